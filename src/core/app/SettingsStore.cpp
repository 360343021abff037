#include "SettingsStore.h"

#include <QLocale>
#include <QSettings>

#include <cmath>
#include <limits>

namespace lintbay {

namespace {
QString settingsKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

SettingsStore::SettingsStore(const QString& iniPath) : m_iniPath(iniPath), m_settings(open()) {}

std::unique_ptr<QSettings> SettingsStore::open() const
{
    if (m_iniPath.isEmpty())
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QStringLiteral("Lintbay"), QStringLiteral("Lintbay"));
    return std::make_unique<QSettings>(m_iniPath, QSettings::IniFormat);
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::get(const QString& section, const QString& key, const QString& defaultValue) const
{
    // A corrupt file leaves QSettings with what it could read; a value of another type reads as text.
    const QVariant v = m_settings->value(settingsKey(section, key));
    if (!v.isValid())
        return defaultValue;
    // A value edited by hand with a comma and no quotes reads as a list of its pieces (the reader
    // drops spaces around the commas; quotes keep them).
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(u',');
    if (v.canConvert<QString>())
        return v.toString();
    return defaultValue;
}

void SettingsStore::set(const QString& section, const QString& key, const QString& value)
{
    m_settings->setValue(settingsKey(section, key), value);
}

void SettingsStore::set(const QString& section, const QString& key, int value)
{
    set(section, key, QString::number(value));
}

int SettingsStore::getInt(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return ParseRoundedInt(get(section, key), &value) ? value : defaultValue;
}

double SettingsStore::getDouble(const QString& section, const QString& key, double defaultValue) const
{
    double value = 0;
    return ParseNumber(get(section, key), &value) ? value : defaultValue;
}

bool SettingsStore::sync()
{
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError)
        return true;
    // The status keeps its first error (a damaged line read at the start, a write that failed an
    // hour ago) for the object's life. A second object on the same file, made while the first
    // still holds it, shares its values, unsaved ones included, and its first sync tells whether
    // they reach the file now.
    std::unique_ptr<QSettings> fresh = open();
    fresh->sync();
    m_settings = std::move(fresh);
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

bool ParseNumber(const QString& text, double* value)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        v = QLocale::system().toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    if (value)
        *value = v;
    return true;
}

bool IsNumeric(const QString& text)
{
    return ParseNumber(text, nullptr);
}

bool ParseRoundedInt(const QString& text, int* value)
{
    double v = 0;
    if (!ParseNumber(text, &v))
        return false;
    const double r = std::round(v);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        return false;
    if (value)
        *value = static_cast<int>(r);
    return true;
}

} // namespace lintbay
