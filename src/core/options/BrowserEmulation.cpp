#include "options/BrowserEmulation.h"

#include "options/RegistryLayer.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

struct EmulationLevel
{
    QString version;
    quint32 mode1;
    quint32 mode2;
};

// In the order the version text is matched.
const EmulationLevel kLevels[] = {
    {u"IE11"_s, 11000, 11001}, {u"IE10"_s, 10000, 10001}, {u"IE9"_s, 9000, 9999},
    {u"IE8"_s, 8000, 8888},    {u"IE7"_s, 7000, 7000},
};

const QString kDefaultView = u"32"_s;
const QString kView64 = u"64"_s;

} // namespace

QString browserEmulationKeyPath()
{
    return u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
           u"FEATURE_BROWSER_EMULATION"_s;
}

QString browserEmulationValueNameFor(const QString& executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    if (name.endsWith(u".exe"_s, Qt::CaseInsensitive))
        name.chop(4);
    if (name.isEmpty())
        name = u"lintbay"_s;
    return name + u".exe"_s;
}

QString browserEmulationValueName()
{
    return browserEmulationValueNameFor(QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                                     : QString());
}

quint32 browserEmulationValueFor(const QString& version, int mode)
{
    const QString wanted = version.toUpper();
    for (const EmulationLevel& level : kLevels) {
        if (level.version == wanted)
            return mode == 2 ? level.mode2 : level.mode1;
    }
    return 0;
}

BrowserEmulation browserEmulationFromValue(quint32 value)
{
    for (const EmulationLevel& level : kLevels) {
        // IE7 has the same value in both columns and reads as mode 1.
        if (value == level.mode1)
            return {level.version, 1};
        if (value == level.mode2)
            return {level.version, 2};
    }
    return {u"IE默认"_s, 1};
}

void SetBrowserEmulation(RegistryLayer& registry, const QString& version, int mode, const QString& bitness)
{
    const QString key = browserEmulationKeyPath();
    const QString name = browserEmulationValueName();
    const bool both = bitness == kView64;
    const quint32 value = browserEmulationValueFor(version, mode);

    registry.RegDeleteNamedValue(key, name, kDefaultView);
    if (both)
        registry.RegDeleteNamedValue(key, name, kView64);
    if (value == 0)
        return;
    registry.RegWriteDword(key, name, value, kDefaultView);
    if (both)
        registry.RegWriteDword(key, name, value, kView64);
}

BrowserEmulation GetBrowserEmulation(RegistryLayer& registry, const QString& bitness)
{
    const QString key = browserEmulationKeyPath();
    const QString name = browserEmulationValueName();

    auto numeric = [](const QString& text, quint32& out) {
        bool ok = false;
        out = text.toUInt(&ok);
        return ok;
    };

    quint32 value = 0;
    if (!numeric(registry.RegReadDword(key, name, kDefaultView), value)) {
        if (bitness != kView64 || !numeric(registry.RegReadDword(key, name, kView64), value))
            value = 0;
    }
    return browserEmulationFromValue(value);
}

} // namespace lintbay
