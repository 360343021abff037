#include "options/OsInfo.h"

#include "options/RegistryLayer.h"

#include <QFile>
#include <QStringList>
#include <QSysInfo>

#include <optional>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

bool is64BitArchitecture(const QString& architecture)
{
    const QString arch = architecture.trimmed().toLower();
    // x86_64, amd64, arm64, aarch64, ia64, mips64, power64, ppc64(le), riscv64, loongarch64, sparc64…
    return arch.contains(u"64"_s) || arch == u"sparcv9"_s || arch == u"s390x"_s || arch == u"alpha"_s;
}

bool isKeyName(QStringView key)
{
    if (key.isEmpty() || key.front().isDigit())
        return false;
    for (const QChar ch : key) {
        if (!(ch.isLetterOrNumber() && ch.unicode() < 128) && ch != u'_')
            return false;
    }
    return true;
}

// The value of one assignment, unquoted as the shell would; nothing when it is not well formed.
std::optional<QString> parseShellValue(QStringView text)
{
    QString value;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar ch = text[i];
        if (ch == u'\'') {
            const qsizetype end = text.indexOf(u'\'', i + 1);
            if (end < 0)
                return std::nullopt;
            value += text.mid(i + 1, end - i - 1);
            i = end + 1;
        } else if (ch == u'"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const QChar c = text[i];
                if (c == u'"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == u'\\' && i + 1 < text.size()) {
                    const QChar next = text[i + 1];
                    // Inside double quotes a backslash escapes only these; elsewhere it stays.
                    if (next == u'$' || next == u'`' || next == u'"' || next == u'\\') {
                        value += next;
                        i += 2;
                        continue;
                    }
                }
                value += c;
                ++i;
            }
            if (!closed)
                return std::nullopt;
        } else if (ch == u'\\') {
            if (i + 1 >= text.size())
                return std::nullopt; // a line continuation, which os-release does not use
            value += text[i + 1];
            i += 2;
        } else if (ch.isSpace()) {
            const QStringView rest = text.mid(i).trimmed();
            if (!rest.isEmpty() && !rest.startsWith(u'#'))
                return std::nullopt;
            break;
        } else {
            value += ch;
            ++i;
        }
    }
    return value;
}

QString readDefaultOsReleasePath()
{
    const QString etc = u"/etc/os-release"_s;
    const QString usrLib = u"/usr/lib/os-release"_s;
    return QFile::exists(etc) || !QFile::exists(usrLib) ? etc : usrLib;
}

} // namespace

QString OsBitnessFor(const QString& currentCpuArchitecture, const QString& buildCpuArchitecture)
{
    if (is64BitArchitecture(currentCpuArchitecture) || is64BitArchitecture(buildCpuArchitecture))
        return u"64"_s;
    return u"32"_s;
}

QString GetOsBitness()
{
    return OsBitnessFor(QSysInfo::currentCpuArchitecture(), QSysInfo::buildCpuArchitecture());
}

OsFacts OsFacts::current()
{
    return {readDefaultOsReleasePath(), QSysInfo::kernelVersion(), QSysInfo::prettyProductName()};
}

QHash<QString, QString> ParseOsRelease(const QByteArray& content)
{
    QHash<QString, QString> result;
    const QString text = QString::fromUtf8(content);
    const QStringList lines = text.split(u'\n');
    for (const QString& rawLine : lines) {
        const QStringView line = QStringView(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QStringView key = line.left(eq);
        if (!isKeyName(key))
            continue;
        if (const std::optional<QString> value = parseShellValue(line.mid(eq + 1)))
            result.insert(key.toString(), *value);
    }
    return result;
}

QString OsNameFromVersionInfo(const OsFacts& facts)
{
    return facts.platformName + u" [Version: "_s + facts.kernelRelease + u"]"_s;
}

QString OsVersionTextFromOsRelease(const OsFacts& facts)
{
    QFile file(facts.osReleasePath);
    if (facts.osReleasePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return OsNameFromVersionInfo(facts);
    const QHash<QString, QString> fields = ParseOsRelease(file.readAll());

    const QString product = fields.value(u"NAME"_s).trimmed();
    if (product.isEmpty())
        return OsNameFromVersionInfo(facts);
    QString release;
    // A rolling release (Debian testing) may name no version but its code name.
    for (const QString& key : {u"VERSION_ID"_s, u"VERSION"_s, u"BUILD_ID"_s, u"VERSION_CODENAME"_s}) {
        release = fields.value(key).trimmed();
        if (!release.isEmpty())
            break;
    }
    return product + u" 版本:"_s + release + u" (内部版本:"_s + facts.kernelRelease + u")"_s;
}

QString OsVersionTextFromRegistry(RegistryLayer& registry, const QString& view, const OsFacts& facts)
{
    const QString key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"_s;
    const QString error = RegistryLayer::errorText();
    auto readString = [&](const QString& name) { return registry.RegReadString(key, name, view); };

    const QString product = readString(u"ProductName"_s);
    if (product == error)
        return OsNameFromVersionInfo(facts);

    QString release = readString(u"ReleaseId"_s);
    if (release == error)
        release = readString(u"CurrentVersion"_s);

    QString build;
    const QString ubr = registry.RegReadDword(key, u"UBR"_s, view);
    if (ubr != error) {
        build = readString(u"CurrentBuildNumber"_s) + u"."_s + ubr;
    } else {
        build = readString(u"BuildLab"_s);
        const QString servicePack = readString(u"CSDVersion"_s);
        if (servicePack != error)
            build += u" : "_s + servicePack;
    }
    return product + u" 版本:"_s + release + u" (内部版本:"_s + build + u")"_s;
}

QString OsVersionText(const QString& bitness)
{
#ifdef Q_OS_WIN
    const std::unique_ptr<RegistryLayer> registry = createSystemRegistry();
    const QString view = bitness.isEmpty() ? GetOsBitness() : bitness;
    registry->setOsBitness(view);
    return OsVersionTextFromRegistry(*registry, view, OsFacts::current());
#else
    Q_UNUSED(bitness);
    return OsVersionTextFromOsRelease(OsFacts::current());
#endif
}

QString FormatOsDescription(const QString& versionText, const QString& bitness)
{
    return versionText + u"["_s + bitness + u"位]"_s;
}

QString OsDescription(const QString& bitness)
{
    const QString effective = bitness.isEmpty() ? GetOsBitness() : bitness;
    return FormatOsDescription(OsVersionText(effective), effective);
}

} // namespace lintbay
