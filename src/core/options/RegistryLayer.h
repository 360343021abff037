#pragma once

#include <QString>

#include <memory>

namespace lintbay {

// The machine's predefined registry roots. `None` stands for a name or path that names no root.
enum class RootKey
{
    None,
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    PerformanceData,
    CurrentConfig,
    DynData,
};

// The canonical name of a root ("HKEY_LOCAL_MACHINE"); empty for `None`.
QString rootKeyName(RootKey root);

// Maps "HKEY_CLASSES_ROOT" … "HKEY_DYN_DATA" to their root; the name is trimmed and compared
// upper-cased. Any other name gives `None`.
RootKey RootKeyFromName(const QString& name);

struct RegistryPath
{
    RootKey root = RootKey::None;
    QString subKey;
};

// Splits "HKEY_…\sub\key" into its root and the subkey after the first "\". A path that does not
// start with "HKEY_" or that ends with "\" gives no root; a bare root name gives an empty subkey.
RegistryPath ParseRegistryPath(const QString& fullPath);

// The machine-wide registry: DWORD values written, deleted and read, strings read, each in a view.
// The view text "64" selects the 64-bit view; any other text the process's default view, and an
// empty text the view of the OS bitness. Keys are opened, never created. Failures are values:
// false or the text "Error"; nothing throws and nothing is reported.
class RegistryLayer
{
public:
    virtual ~RegistryLayer();

    // True when the value was stored.
    bool RegWriteDword(const QString& keyPath, const QString& valueName, quint32 value, const QString& view);
    // True when the key could be opened, whether or not the value existed.
    bool RegDeleteNamedValue(const QString& keyPath, const QString& valueName, const QString& view);
    // The value as decimal text, or "Error" when the key or a DWORD value of that name cannot be read.
    QString RegReadDword(const QString& keyPath, const QString& valueName, const QString& view);
    // The string value cut at its first NUL and trimmed, or "Error".
    QString RegReadString(const QString& keyPath, const QString& valueName, const QString& view);

    // The bitness an empty view text stands for. Unset, it is determined on first need.
    void setOsBitness(const QString& bitness) { m_osBitness = bitness; }
    QString osBitness();

    // The text every failed read gives.
    static QString errorText();

protected:
    // The hooks below receive a path with a root and the resolved view.
    virtual bool writeDword(const RegistryPath& path, const QString& valueName, quint32 value,
                            bool view64) = 0;
    virtual bool deleteValue(const RegistryPath& path, const QString& valueName, bool view64) = 0;
    // Reads give false when the key or the value cannot be read.
    virtual bool readDword(const RegistryPath& path, const QString& valueName, bool view64,
                           quint32& value) = 0;
    virtual bool readString(const RegistryPath& path, const QString& valueName, bool view64,
                            QString& value) = 0;

    // Parses the path and turns the view text into the view; false when the path names no root.
    bool resolve(const QString& keyPath, const QString& view, RegistryPath& path, bool& view64);

private:
    QString m_osBitness;
};

// Stands in for the machine's registry where there is none: an INI file, by default in the
// system-wide configuration folder (so that, as with the registry's machine-wide keys, an ordinary
// user may read it but usually not write it). The two views are kept apart, and key and value
// names compare case-insensitively as in the registry.
//
// Since no installer creates keys in this file, a write creates the entry it needs; a read of
// anything absent gives "Error". A write the file system refuses is ignored and gives false.
class IniRegistry : public RegistryLayer
{
public:
    IniRegistry();
    explicit IniRegistry(const QString& filePath);

    QString fileName() const { return m_filePath; }

    // String values come from outside the program on a real registry; here they can be set up
    // by hand or by this call.
    bool RegWriteString(const QString& keyPath, const QString& valueName, const QString& value,
                        const QString& view);

protected:
    bool writeDword(const RegistryPath& path, const QString& valueName, quint32 value, bool view64) override;
    bool deleteValue(const RegistryPath& path, const QString& valueName, bool view64) override;
    bool readDword(const RegistryPath& path, const QString& valueName, bool view64, quint32& value) override;
    bool readString(const RegistryPath& path, const QString& valueName, bool view64, QString& value) override;

private:
    bool store(const RegistryPath& path, const QString& valueName, bool view64, const QString& text);
    bool readRaw(const RegistryPath& path, const QString& valueName, bool view64, QString& text) const;

    QString m_filePath;
};

#ifdef Q_OS_WIN
// The Windows registry, with the 32-bit and 64-bit views.
class NativeRegistry : public RegistryLayer
{
protected:
    bool writeDword(const RegistryPath& path, const QString& valueName, quint32 value, bool view64) override;
    bool deleteValue(const RegistryPath& path, const QString& valueName, bool view64) override;
    bool readDword(const RegistryPath& path, const QString& valueName, bool view64, quint32& value) override;
    bool readString(const RegistryPath& path, const QString& valueName, bool view64, QString& value) override;
};
#endif

// The registry of this platform: the native one on Windows, the INI stand-in elsewhere.
std::unique_ptr<RegistryLayer> createSystemRegistry();

} // namespace lintbay
