#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace lintbay {

class RegistryLayer;

// "64" when either architecture is a 64-bit one, else "32". The machine's architecture answers
// first; a 64-bit build of the program is the second way, since it can only run on a 64-bit system.
QString OsBitnessFor(const QString& currentCpuArchitecture, const QString& buildCpuArchitecture);
// The bitness of this machine: "64" or "32".
QString GetOsBitness();

// Where the OS description comes from. `current()` reads this machine; tests fill in their own.
struct OsFacts
{
    QString osReleasePath; // the os-release file
    QString kernelRelease; // e.g. "6.1.0-18-amd64"
    QString platformName;  // the platform's own name for the system, used by the fallback

    static OsFacts current();
};

// Parses an os-release file: KEY=VALUE lines whose values follow shell quoting (single quotes,
// double quotes with backslash escapes, or unquoted with backslash escapes). Comments, blank
// lines and lines that are not well-formed assignments are skipped.
QHash<QString, QString> ParseOsRelease(const QByteArray& content);

// The fallback name: platform name + " [Version: " + kernel release + "]".
QString OsNameFromVersionInfo(const OsFacts& facts = OsFacts::current());

// product + " 版本:" + release + " (内部版本:" + build + ")" from os-release: the product is NAME,
// the release VERSION_ID (VERSION when that is missing, then BUILD_ID), the build the kernel
// release. An unreadable file or one without NAME gives `OsNameFromVersionInfo`.
QString OsVersionTextFromOsRelease(const OsFacts& facts);

// The same line from the Windows version key of the registry, in the given view. Without
// "ProductName" it is `OsNameFromVersionInfo`.
QString OsVersionTextFromRegistry(RegistryLayer& registry, const QString& view, const OsFacts& facts);

// This system's version line: from the registry on Windows (in the view of `bitness`), from
// os-release elsewhere.
QString OsVersionText(const QString& bitness = {});

// versionText + "[" + bitness + "位]".
QString FormatOsDescription(const QString& versionText, const QString& bitness);
// This system's description; an empty bitness is determined first.
QString OsDescription(const QString& bitness = {});

} // namespace lintbay
