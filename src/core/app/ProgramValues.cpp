#include "ProgramValues.h"

#include "app/SettingsStore.h"
#include "options/BrowserEmulation.h"
#include "options/OsInfo.h"
#include "options/RegistryLayer.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace lintbay {

QString DefaultSaveFolder()
{
    return QDir::toNativeSeparators(QDir::home().filePath(u"12345"_s));
}

AppContext::AppContext(SettingsStore& settings, RegistryLayer& registry) : m_settings(settings), m_registry(registry)
{
}

void AppContext::loadStartupValues()
{
    m_values.DefaultSavePath = m_settings.get(keys::kSettings, keys::kDefaultSavePath, DefaultSaveFolder());
    m_values.OsBitness = GetOsBitness();
    m_registry.setOsBitness(m_values.OsBitness);
    m_values.OsDescription = OsDescription(m_values.OsBitness);
    const auto emulation = GetBrowserEmulation(m_registry, m_values.OsBitness);
    m_values.BrowserEmulationVersion = emulation.version;
    m_values.BrowserEmulationMode = emulation.mode;
    m_values.MaxFileSizeMB = m_settings.getDouble(keys::kSettings, keys::kMaxFileSize, 10);
}

void AppContext::loadPromptSavePath()
{
    m_values.PromptSavePathOnExtract = m_settings.getInt(keys::kSettings, keys::kPromptSavePath, 1);
}

void AppContext::restoreEmulationAtExit()
{
    const QString& v = m_values.BrowserEmulationVersion;
    if (v.isEmpty() || v == u"IE默认"_s)
        SetBrowserEmulation(m_registry, u"IE11"_s, 1, m_values.OsBitness);
}

QString AppContext::searchEngine() const
{
    const QString engine = m_settings.get(keys::kSettings, keys::kSearchEngine, keys::kDefaultSearchEngine).trimmed();
    return engine.isEmpty() ? keys::kDefaultSearchEngine : engine;
}

} // namespace lintbay
