#pragma once

#include "options/RegistryPath.h"

#include <QString>

#include <memory>

namespace lintbay {

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
