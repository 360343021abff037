#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace lintbay {

// The per-user store of named string settings: (section, key) → text, under the application
// "Lintbay". A read takes a default and never writes; a write creates what is missing.
class SettingsStore
{
public:
    // With an empty path the store is the user's own INI file; tests pass a file of their own.
    explicit SettingsStore(const QString& iniPath = {});
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString get(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    void set(const QString& section, const QString& key, const QString& value);
    void set(const QString& section, const QString& key, int value);

    // Numbers are stored as text; one that does not read as a number gives the default.
    // Integers round to the nearest whole number.
    int getInt(const QString& section, const QString& key, int defaultValue) const;
    double getDouble(const QString& section, const QString& key, double defaultValue) const;

    // Writes pending changes to disk now (they are written on destruction anyway). False when the
    // file cannot be written now (a full disk, a folder of another user's): the values then last
    // only as long as the program runs, unless a later write gets through.
    bool sync();
    QString fileName() const;

private:
    // A settings object on the store's file (with the system's defaults behind it when the file is
    // the user's own).
    std::unique_ptr<QSettings> open() const;

    QString m_iniPath;
    std::unique_ptr<QSettings> m_settings;
};

// Reads a number the way the settings and the dialogs accept it: surrounding blanks allowed, the
// C notation or the user's locale. Returns false for anything else, including an empty text.
bool ParseNumber(const QString& text, double* value);
bool IsNumeric(const QString& text);
// Rounds to the nearest whole number, ties away from zero; false when not a number or out of range.
bool ParseRoundedInt(const QString& text, int* value);

} // namespace lintbay
