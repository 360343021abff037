#include "options/RegistryLayer.h"

#include "options/OsInfo.h"

#include <QSettings>
#include <QStringList>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

struct RootName
{
    RootKey root;
    QString name;
};

const RootName kRootNames[] = {
    {RootKey::ClassesRoot, u"HKEY_CLASSES_ROOT"_s},
    {RootKey::CurrentUser, u"HKEY_CURRENT_USER"_s},
    {RootKey::LocalMachine, u"HKEY_LOCAL_MACHINE"_s},
    {RootKey::Users, u"HKEY_USERS"_s},
    {RootKey::PerformanceData, u"HKEY_PERFORMANCE_DATA"_s},
    {RootKey::CurrentConfig, u"HKEY_CURRENT_CONFIG"_s},
    {RootKey::DynData, u"HKEY_DYN_DATA"_s},
};

} // namespace

QString rootKeyName(RootKey root)
{
    for (const RootName& entry : kRootNames) {
        if (entry.root == root)
            return entry.name;
    }
    return {};
}

RootKey RootKeyFromName(const QString& name)
{
    const QString wanted = name.trimmed().toUpper();
    for (const RootName& entry : kRootNames) {
        if (entry.name == wanted)
            return entry.root;
    }
    return RootKey::None;
}

RegistryPath ParseRegistryPath(const QString& fullPath)
{
    RegistryPath result;
    if (!fullPath.startsWith(u"HKEY_"_s) || fullPath.endsWith(u'\\'))
        return result;
    const qsizetype slash = fullPath.indexOf(u'\\');
    if (slash < 0) {
        result.root = RootKeyFromName(fullPath);
    } else {
        result.root = RootKeyFromName(fullPath.left(slash));
        result.subKey = fullPath.mid(slash + 1);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------

RegistryLayer::~RegistryLayer() = default;

QString RegistryLayer::errorText()
{
    return u"Error"_s;
}

QString RegistryLayer::osBitness()
{
    if (m_osBitness.isEmpty())
        m_osBitness = GetOsBitness();
    return m_osBitness;
}

bool RegistryLayer::resolve(const QString& keyPath, const QString& view, RegistryPath& path, bool& view64)
{
    path = ParseRegistryPath(keyPath);
    if (path.root == RootKey::None)
        return false;
    const QString effectiveView = view.isEmpty() ? osBitness() : view;
    view64 = effectiveView == u"64"_s;
    return true;
}

bool RegistryLayer::RegWriteDword(const QString& keyPath, const QString& valueName, quint32 value,
                                  const QString& view)
{
    RegistryPath path;
    bool view64 = false;
    return resolve(keyPath, view, path, view64) && writeDword(path, valueName, value, view64);
}

bool RegistryLayer::RegDeleteNamedValue(const QString& keyPath, const QString& valueName, const QString& view)
{
    RegistryPath path;
    bool view64 = false;
    return resolve(keyPath, view, path, view64) && deleteValue(path, valueName, view64);
}

QString RegistryLayer::RegReadDword(const QString& keyPath, const QString& valueName, const QString& view)
{
    RegistryPath path;
    bool view64 = false;
    quint32 value = 0;
    if (!resolve(keyPath, view, path, view64) || !readDword(path, valueName, view64, value))
        return errorText();
    return QString::number(value);
}

QString RegistryLayer::RegReadString(const QString& keyPath, const QString& valueName, const QString& view)
{
    RegistryPath path;
    bool view64 = false;
    QString value;
    if (!resolve(keyPath, view, path, view64) || !readString(path, valueName, view64, value))
        return errorText();
    const qsizetype nul = value.indexOf(QChar(0));
    if (nul >= 0)
        value.truncate(nul);
    return value.trimmed();
}

// ---------------------------------------------------------------------------------------------
// INI stand-in. Each value is one INI key: view / root / subkey components / value name. The
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

bool IniRegistry::store(const RegistryPath& path, const QString& valueName, bool view64, const QString& text)
{
    const QString key = iniKeyFor(path, valueName, view64);
    if (key.isEmpty())
        return false;
    QSettings settings(m_filePath, QSettings::IniFormat);
    // QSettings would keep the change in memory and report nothing; a file that cannot be
    // written must show as a failed write.
    if (!settings.isWritable())
        return false;
    settings.setValue(key, text);
    settings.sync();
    return settings.status() == QSettings::NoError;
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
    const QString key = iniKeyFor(path, valueName, view64);
    if (key.isEmpty())
        return false;
    QSettings settings(m_filePath, QSettings::IniFormat);
    if (!settings.isWritable())
        return false;
    if (!settings.contains(key))
        return true;
    settings.remove(key);
    settings.sync();
    return settings.status() == QSettings::NoError;
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

// ---------------------------------------------------------------------------------------------

#ifdef Q_OS_WIN

namespace {

// Query, set and create values, enumerate and notify, plus read control; the key itself is only
// opened. Reads ask for read rights alone: an ordinary user may read the machine-wide keys but not
// write them, and asking for more would make every read fail.
constexpr REGSAM kWriteAccess = 0x2003F;
constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kView64Flag = KEY_WOW64_64KEY; // 0x100

HKEY rootHandle(RootKey root)
{
    switch (root) {
    case RootKey::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RootKey::CurrentUser:
        return HKEY_CURRENT_USER;
    case RootKey::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RootKey::Users:
        return HKEY_USERS;
    case RootKey::PerformanceData:
        return HKEY_PERFORMANCE_DATA;
    case RootKey::CurrentConfig:
        return HKEY_CURRENT_CONFIG;
    case RootKey::DynData:
        return HKEY_DYN_DATA;
    case RootKey::None:
        break;
    }
    return nullptr;
}

class OpenKey
{
public:
    OpenKey(const RegistryPath& path, bool view64, REGSAM access)
    {
        const HKEY root = rootHandle(path.root);
        if (!root)
            return;
        const REGSAM sam = access | (view64 ? kView64Flag : 0);
        const std::wstring subKey = path.subKey.toStdWString();
        if (RegOpenKeyExW(root, subKey.c_str(), 0, sam, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~OpenKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    HKEY handle() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

} // namespace

bool NativeRegistry::writeDword(const RegistryPath& path, const QString& valueName, quint32 value,
                                bool view64)
{
    OpenKey key(path, view64, kWriteAccess);
    if (!key.handle())
        return false;
    const std::wstring name = valueName.toStdWString();
    const DWORD data = value;
    return RegSetValueExW(key.handle(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
}

bool NativeRegistry::deleteValue(const RegistryPath& path, const QString& valueName, bool view64)
{
    OpenKey key(path, view64, kWriteAccess);
    if (!key.handle())
        return false;
    const std::wstring name = valueName.toStdWString();
    RegDeleteValueW(key.handle(), name.c_str());
    return true;
}

bool NativeRegistry::readDword(const RegistryPath& path, const QString& valueName, bool view64,
                               quint32& value)
{
    OpenKey key(path, view64, kReadAccess);
    if (!key.handle())
        return false;
    const std::wstring name = valueName.toStdWString();
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key.handle(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    value = data;
    return true;
}

bool NativeRegistry::readString(const RegistryPath& path, const QString& valueName, bool view64,
                                QString& value)
{
    OpenKey key(path, view64, kReadAccess);
    if (!key.handle())
        return false;
    const std::wstring name = valueName.toStdWString();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.handle(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The size is in bytes and need not include a terminating NUL; one spare character covers it.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key.handle(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) != ERROR_SUCCESS)
        return false;
    value = QString::fromWCharArray(buffer.data(), static_cast<qsizetype>(bytes / sizeof(wchar_t)));
    return true;
}

#endif

std::unique_ptr<RegistryLayer> createSystemRegistry()
{
#ifdef Q_OS_WIN
    return std::make_unique<NativeRegistry>();
#else
    return std::make_unique<IniRegistry>();
#endif
}

} // namespace lintbay
