#include "PathHelpers.h"

#include "TextHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Names are cut to this many GBK bytes, the limit the program's names were always held to.
constexpr int kMaxNameAnsiBytes = 200;
// A base name longer than this is shortened before a counter is added to it.
constexpr qsizetype kMaxCounterBaseChars = 100;

bool isSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

qsizetype lastSeparator(QStringView path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isSeparator(path[i]))
            return i;
    }
    return -1;
}

bool isExistingFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// Any directory entry blocks a name, a dangling link included.
bool nameTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Names Windows keeps for its devices, with any type after them ("con.pdf" too): such a name gets
// a "_" after its stem, everywhere, so that it survives a copy there.
QString withoutDeviceName(const QString& name)
{
    static const QRegularExpression device(u"^(con|prn|aux|nul|com[1-9]|lpt[1-9]) *(?=\\.|$)"_s,
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = device.match(name);
    return m.hasMatch() ? QString(name).insert(m.capturedEnd(1), u'_') : name;
}

// Characters Windows does not allow in a name; removed everywhere so names survive a copy there.
bool isForbiddenNameChar(QChar c)
{
    switch (c.unicode()) {
    case u'\\':
    case u'/':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        return c.unicode() < 0x20;
    }
}

QString stripDots(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u'.')
        ++begin;
    while (end > begin && text[end - 1] == u'.')
        --end;
    return text.sliced(begin, end - begin);
}

int codePointNameLength(char32_t cp)
{
#ifdef Q_OS_WIN
    return cp > 0xFFFF ? 2 : 1;
#else
    // Qt encodes file names as UTF-8 on every Unix; a lone surrogate becomes U+FFFD.
    if (cp < 0x80)
        return 1;
    if (cp < 0x800)
        return 2;
    if (cp < 0x10000)
        return 3;
    return 4;
#endif
}

} // namespace

int fileNameLength(QStringView name)
{
    int total = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t cp = name[i].unicode();
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        total += codePointNameLength(cp);
    }
    return total;
}

QString cutFileName(QStringView name, int maxLength)
{
    int used = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        qsizetype next = i + 1;
        char32_t cp = name[i].unicode();
        if (name[i].isHighSurrogate() && next < name.size() && name[next].isLowSurrogate())
            cp = QChar::surrogateToUcs4(name[i], name[next++]);
        const int width = codePointNameLength(cp);
        if (used > maxLength - width)
            break;
        used += width;
        i = next;
    }
    return name.left(i).toString();
}

bool FileExists(const QString& path)
{
    const QString text = path.trimmed();
    if (text.startsWith(u"file:/", Qt::CaseInsensitive)) {
        if (isExistingFile(QUrl(text, QUrl::TolerantMode).toLocalFile()))
            return true;
        // Addresses put together by hand are not percent-encoded, so "#" or "%" may be literal.
        if (text.startsWith(u"file:///", Qt::CaseInsensitive)) {
#ifdef Q_OS_WIN
            return isExistingFile(text.mid(8));
#else
            return isExistingFile(text.mid(7));
#endif
        }
        return false;
    }
    return isExistingFile(text);
}

bool FolderExists(const QString& path)
{
#ifdef Q_OS_WIN
    // Never touch the floppy drive.
    if (path.toUpper() == u"A:\\")
        return true;
#endif
    return !path.trimmed().isEmpty() && QFileInfo(path).isDir();
}

namespace {

// The walk of CreateFolderPath; without `create` nothing is made and only the names are judged.
QString walkFolderPath(const QString& path, bool create, bool* nameError)
{
    if (nameError)
        *nameError = false;
    auto reportNameError = [nameError] {
        if (nameError)
            *nameError = true;
    };

    const QChar sep = QDir::separator();
    const QString native = QDir::toNativeSeparators(path);
    const QStringList parts = native.split(sep);
    QString built;
    qsizetype i = 0;
    bool rooted = false;
#ifdef Q_OS_WIN
    if (native.startsWith(u"\\\\")) {
        // A network path: "\\server\share\...".
        if (parts.size() < 3 || parts[2].isEmpty()) {
            reportNameError();
            return {};
        }
        built = u"\\\\"_s + parts[2];
        i = 3;
        rooted = true;
    } else if (parts[0].size() == 2 && parts[0][1] == u':') {
        built = parts[0];
        i = 1;
        rooted = true;
    }
#endif
    if (!rooted && native.startsWith(sep)) {
        // Absolute: the root element is empty; "//x" is the same folder as "/x".
        rooted = true;
        while (i < parts.size() && parts[i].isEmpty())
            ++i;
    }

    for (; i < parts.size(); ++i) {
        const QString& element = parts[i];
        if (element.isEmpty())
            break; // a trailing or doubled separator
        const QString prefix = (built.isEmpty() && !rooted) ? QString() : built + sep;
        // A folder that is already there is used as written: cleaning would turn ".config" into a
        // new "config" beside it.
        if (FolderExists(prefix + element)) {
            built = prefix + element;
            continue;
        }
        const QString name = SanitizeFileName(element);
        if (name.isEmpty()) {
            reportNameError();
            break;
        }
        built = prefix + name;
        if (create && !FolderExists(built))
            QDir().mkdir(built); // failures show in the final test
    }

    if (built.isEmpty())
        return (rooted && FolderExists(QString(sep))) ? QString(sep) : QString();
    return FolderExists(built) ? built : QString();
}

} // namespace

QString CreateFolderPath(const QString& path, bool* nameError)
{
    return walkFolderPath(path, true, nameError);
}

bool HasUnusableFolderName(const QString& path)
{
    bool nameError = false;
    walkFolderPath(path, false, &nameError);
    return nameError;
}

namespace {

QString cleanNamePart(const QString& text, bool stem)
{
    QString name;
    name.reserve(text.size());
    for (QChar c : text) {
        if (!isForbiddenNameChar(c))
            name.append(c);
    }
    name = stripDots(name);
    if (stem)
        name = withoutDeviceName(name);
    name = LeftAnsiBytes(name, kMaxNameAnsiBytes);
    name = cutFileName(name, kMaxFileNameBytes - kNameSuffixReserveBytes);
    // A cut can end on a dot, which Windows drops and which doubles the dot before the type.
    return stripDots(name);
}

} // namespace

QString SanitizeFileName(const QString& text)
{
    return cleanNamePart(text, true);
}

QString SanitizeFileType(const QString& type)
{
    return cleanNamePart(type, false);
}

QString UniqueFileName(const QString& fullPath)
{
    if (!FileExists(fullPath))
        return fullPath;

    const qsizetype sep = lastSeparator(fullPath);
    const QString folder = fullPath.left(sep + 1);
    const QString name = fullPath.mid(sep + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString typeTail = dot >= 0 ? name.mid(dot) : QString(); // ".pdf" or nothing
    QString base = dot >= 0 ? name.left(dot) : name;

    if (base.size() > kMaxCounterBaseChars) {
        qsizetype keep = kMaxCounterBaseChars;
        if (base[keep - 1].isHighSurrogate())
            --keep;
        base.truncate(keep);
    }
    SplitCounterSuffix(base, &base);

    auto candidate = [&](const QString& counter) {
        const QString tail = counter + typeTail;
        return folder + cutFileName(base, kMaxFileNameBytes - fileNameLength(tail)) + tail;
    };
    QString path = candidate(QString());
    for (int n = 1; nameTaken(path); ++n)
        path = candidate(u'[' + QString::number(n).rightJustified(4, u'0') + u']');
    return path;
}

QString SplitFileName(const QString& path, QString* base)
{
    const QString text = trimSpaces(path);
    const QString name = text.mid(lastSeparator(text) + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    QString b;
    QString extension;
    if (dot >= 0 && name.size() - dot - 1 < 7) {
        b = trimSpaces(QStringView(name).left(dot));
        extension = trimSpaces(QStringView(name).sliced(dot + 1));
    } else {
        b = trimSpaces(name);
    }
    if (base)
        *base = b;
    return extension;
}

QString SplitPath(const QString& path, QString* extension, QString* base)
{
    const QString text = trimSpaces(path);
    const qsizetype sep = lastSeparator(text);
    QString b;
    QString ext = SplitFileName(text, &b);
    if (b.isEmpty()) {
        b = trimSpaces(QStringView(text).sliced(sep + 1));
        ext.clear();
    }
    if (extension)
        *extension = ext;
    if (base)
        *base = b;
    return text.left(sep + 1);
}

QString SplitCounterSuffix(const QString& base, QString* stripped)
{
    QString counter;
    qsizetype cut = -1;
    if (base.endsWith(u']')) {
        const qsizetype open = base.lastIndexOf(u'[', base.size() - 2);
        if (open >= 0) {
            const QString inner = base.sliced(open + 1, base.size() - open - 2).trimmed();
            if (isAsciiDigits(inner) && open > 0) {
                counter = inner;
                cut = open;
            }
        }
    }
    if (stripped)
        *stripped = cut >= 0 ? base.left(cut) : base;
    return counter;
}

QString InternetCacheFolder()
{
    QString root = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (root.isEmpty())
        root = QDir::tempPath();
    return QDir::toNativeSeparators(root + u"/Lintbay"_s);
}

std::filesystem::path toFsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

std::error_code renameWithoutReplacing(const QString& fromPath, const QString& toPath)
{
    const std::filesystem::path from = toFsPath(fromPath);
    const std::filesystem::path to = toFsPath(toPath);
#ifdef Q_OS_LINUX
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    // File systems without the flag: a hard link cannot replace either.
    if (errno != EINVAL && errno != ENOSYS)
        return {errno, std::generic_category()};
#endif
#ifdef Q_OS_UNIX
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno == EEXIST)
        return {errno, std::generic_category()};
#endif
#ifdef Q_OS_WIN
    // A move that refuses an existing name by itself.
    if (::MoveFileExW(from.c_str(), to.c_str(), 0))
        return {};
    const DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return {int(code), std::system_category()};
#else
    // Without either (or links refused): a look first, which leaves a moment for a file to come.
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(to, error)))
        return std::make_error_code(std::errc::file_exists);
    std::filesystem::rename(from, to, error);
    return error;
#endif
}

} // namespace lintbay
