#include "options/IniRegistry.h"

#include <QSettings>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace lintbay {

// Each value is one INI key: view / root / subkey components / value name. The
// registry compares names case-insensitively, so names are stored case-folded; characters that
// QSettings would read as a separator are escaped so that a name can never reach into another key.

namespace {

const QString kDwordPrefix = u"dword:"_s;

QString escapeName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar ch : name.toLower()) {
        if (ch == u'%' || ch == u'/' || ch == u'\\' || ch == u'@')
            out += u'%' + QString::number(ch.unicode(), 16).toUpper().rightJustified(2, u'0');
        else
            out += ch;
    }
    return out;
}

// Empty when the path cannot name a key (an empty component, as in "a\\b" or "\a", is refused as
// the registry refuses it).
QString iniKeyFor(const RegistryPath& path, const QString& valueName, bool view64)
{
    QStringList parts{view64 ? u"view64"_s : u"default"_s, rootKeyName(path.root)};
    if (!path.subKey.isEmpty()) {
        const QStringList components = path.subKey.split(u'\\');
        for (const QString& component : components) {
            if (component.isEmpty())
                return {};
            parts << escapeName(component);
        }
    }
    // The unnamed (default) value of a key gets a name no escaped name can have.
    parts << (valueName.isEmpty() ? u"@"_s : escapeName(valueName));
    return parts.join(u'/');
}

// A DWORD is kept in the notation of registry export files ("dword:00002af8"), so that it is told
// apart from a string value.
bool parseDwordText(const QString& text, quint32& value)
{
    if (!text.startsWith(kDwordPrefix))
        return false;
    const QString digits = text.mid(kDwordPrefix.size());
    if (digits.isEmpty() || digits.size() > 8)
        return false;
    quint32 parsed = 0;
    for (const QChar ch : digits) {
        const int digit = QStringView(u"0123456789abcdef").indexOf(ch.toLower());
        if (digit < 0)
            return false;
        parsed = parsed * 16 + quint32(digit);
    }
    value = parsed;
    return true;
}

QString dwordText(quint32 value)
{
    return kDwordPrefix + QString::number(value, 16).rightJustified(8, u'0');
}

QString defaultIniRegistryPath()
{
    return QSettings(QSettings::IniFormat, QSettings::SystemScope, u"Lintbay"_s, u"registry"_s).fileName();
}

} // namespace

IniRegistry::IniRegistry() : m_filePath(defaultIniRegistryPath()) {}

IniRegistry::IniRegistry(const QString& filePath) : m_filePath(filePath) {}

bool IniRegistry::update(const RegistryPath& path, const QString& valueName, bool view64,
                         const std::function<bool(QSettings& settings, const QString& key)>& change)
{
    const QString key = iniKeyFor(path, valueName, view64);
    if (key.isEmpty())
        return false;
    QSettings settings(m_filePath, QSettings::IniFormat);
    // QSettings would keep the change in memory and report nothing; a file that cannot be
    // written must show as a failed write.
    if (!settings.isWritable())
        return false;
    if (!change(settings, key))
        return true;
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool IniRegistry::store(const RegistryPath& path, const QString& valueName, bool view64, const QString& text)
{
    return update(path, valueName, view64, [&text](QSettings& settings, const QString& key) {
        settings.setValue(key, text);
        return true;
    });
}

bool IniRegistry::readRaw(const RegistryPath& path, const QString& valueName, bool view64,
                          QString& text) const
{
    const QString key = iniKeyFor(path, valueName, view64);
    if (key.isEmpty())
        return false;
    QSettings settings(m_filePath, QSettings::IniFormat);
    if (!settings.contains(key))
        return false;
    const QVariant value = settings.value(key);
    // An unquoted comma in a hand-edited file makes QSettings read a list.
    text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString();
    return true;
}

bool IniRegistry::writeDword(const RegistryPath& path, const QString& valueName, quint32 value, bool view64)
{
    return store(path, valueName, view64, dwordText(value));
}

bool IniRegistry::RegWriteString(const QString& keyPath, const QString& valueName, const QString& value,
                                 const QString& view)
{
    quint32 ignored = 0;
    // Such a text would read back as a DWORD.
    if (parseDwordText(value, ignored))
        return false;
    RegistryPath path;
    bool view64 = false;
    return resolve(keyPath, view, path, view64) && store(path, valueName, view64, value);
}

bool IniRegistry::deleteValue(const RegistryPath& path, const QString& valueName, bool view64)
{
    return update(path, valueName, view64, [](QSettings& settings, const QString& key) {
        if (!settings.contains(key))
            return false;
        settings.remove(key);
        return true;
    });
}

bool IniRegistry::readDword(const RegistryPath& path, const QString& valueName, bool view64, quint32& value)
{
    QString text;
    return readRaw(path, valueName, view64, text) && parseDwordText(text, value);
}

bool IniRegistry::readString(const RegistryPath& path, const QString& valueName, bool view64, QString& value)
{
    QString text;
    quint32 ignored = 0;
    if (!readRaw(path, valueName, view64, text) || parseDwordText(text, ignored))
        return false;
    value = text;
    return true;
}

} // namespace lintbay
