#pragma once

#include <QString>

namespace lintbay {

class RegistryLayer;

// The compatibility level the embedded browser is asked to render in, as the options dialog names
// it ("IE7" … "IE11", or "IE默认" for the browser's own default), and the column of the value
// table it was read from: 1 for the values this program writes, 2 for the alternatives it accepts.
struct BrowserEmulation
{
    QString version;
    int mode = 1;

    bool operator==(const BrowserEmulation&) const = default;
};

// The machine-wide feature key that holds the level, one value per executable.
QString browserEmulationKeyPath();
// The value name for an executable file: its name without ".exe", followed by ".exe"; an empty
// path gives the program's own name.
QString browserEmulationValueNameFor(const QString& executablePath);
// The value name of the running program.
QString browserEmulationValueName();

// The registry value for a version text (compared upper-cased) and mode; 0 when the text names no
// level, which means that no value is to be written.
quint32 browserEmulationValueFor(const QString& version, int mode);
// The version and mode a registry value stands for; unknown values are the browser's default.
BrowserEmulation browserEmulationFromValue(quint32 value);

// Removes the value from the default view (and from the 64-bit view when bitness is "64"), then,
// when the version names a level, writes it to the same views. Failures are ignored.
void SetBrowserEmulation(RegistryLayer& registry, const QString& version, int mode, const QString& bitness);
// Reads the default view's value, falling back to the 64-bit view's when bitness is "64".
BrowserEmulation GetBrowserEmulation(RegistryLayer& registry, const QString& bitness);

} // namespace lintbay
