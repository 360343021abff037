#pragma once

#include "options/RegistryLayer.h"

#include <functional>

class QSettings;

namespace lintbay {

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
    // Opens the file, lets `change` edit the value's INI key and writes the file out. False when
    // the path names no key or the file cannot be written; `change` returns false when it left
    // everything as it was, and nothing is written then.
    bool update(const RegistryPath& path, const QString& valueName, bool view64,
                const std::function<bool(QSettings& settings, const QString& key)>& change);
    bool store(const RegistryPath& path, const QString& valueName, bool view64, const QString& text);
    bool readRaw(const RegistryPath& path, const QString& valueName, bool view64, QString& text) const;

    QString m_filePath;
};

} // namespace lintbay
