#include "options/RegistryLayer.h"

#include "options/IniRegistry.h"
#include "options/OsInfo.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <vector>
#endif

using namespace Qt::StringLiterals;

namespace lintbay {

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
