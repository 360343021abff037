#include "options/RegistryPath.h"

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

} // namespace lintbay
