#pragma once

#include <QString>

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

} // namespace lintbay
