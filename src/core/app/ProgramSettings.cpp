#include "ProgramSettings.h"

#include "app/SettingsStore.h"

#include <QDir>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace lintbay {

QString DefaultSaveFolder()
{
    return QDir::toNativeSeparators(QDir::home().filePath(u"12345"_s));
}

QString namePolicyText(NamePolicy policy)
{
    switch (policy) {
    case NamePolicy::Skip:
        return u"跳过"_s;
    case NamePolicy::Overwrite:
        return u"覆盖"_s;
    case NamePolicy::Rename:
        break;
    }
    return u"重命名"_s;
}

NamePolicy namePolicyFromText(const QString& text)
{
    const QString t = text.trimmed();
    if (t == namePolicyText(NamePolicy::Skip))
        return NamePolicy::Skip;
    if (t == namePolicyText(NamePolicy::Overwrite))
        return NamePolicy::Overwrite;
    return NamePolicy::Rename;
}

ProgramSettings::ProgramSettings(SettingsStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    m_defaultSavePath = DefaultSaveFolder();
}

void ProgramSettings::load()
{
    const SettingsStore& s = m_store;
    m_defaultSavePath = s.get(keys::kSettings, keys::kDefaultSavePath, DefaultSaveFolder());
    // A limit of nothing (a hand-edited file) would end every download as too large.
    const double maxSize = s.getDouble(keys::kSettings, keys::kMaxFileSize, 10);
    m_maxFileSizeMB = maxSize > 0 ? maxSize : 10;
    m_promptSavePath = s.getInt(keys::kSettings, keys::kPromptSavePath, 1);
    m_downloadMode = s.getInt(keys::kSettings, keys::kDownloadMode, 2) == 1 ? DownloadMode::Single
                                                                             : DownloadMode::Parallel;
    m_proxy.address = s.get(keys::kSettings, keys::kProxyAddress);
    m_proxy.port = s.get(keys::kSettings, keys::kProxyPort);
    m_proxy.enabled = s.getInt(keys::kSettings, keys::kProxyEnabled, 0) == 1;
    m_namePolicy = namePolicyFromText(s.get(keys::kPolicySection, keys::kPolicy, namePolicyText(NamePolicy::Rename)));
    const double pause = s.getDouble(keys::kSettings, keys::kVerificationPause, 10);
    m_verificationPauseMinutes = pause > 0 ? pause : 10;
    m_perHostLimit = qMax(0, s.getInt(keys::kSettings, keys::kPerHostLimit, 2));
}

bool ProgramSettings::store(Field field)
{
    switch (field) {
    case Field::DefaultSavePath:
        m_store.set(keys::kSettings, keys::kDefaultSavePath, m_defaultSavePath);
        break;
    case Field::MaxFileSize:
        // Every digit the user gave (the default format keeps six and writes large ones as 1.23457e+06).
        m_store.set(keys::kSettings, keys::kMaxFileSize,
                    QString::number(m_maxFileSizeMB, 'g', QLocale::FloatingPointShortest));
        break;
    case Field::PromptSavePath:
        m_store.set(keys::kSettings, keys::kPromptSavePath, m_promptSavePath);
        break;
    case Field::DownloadMode:
        m_store.set(keys::kSettings, keys::kDownloadMode, int(m_downloadMode));
        break;
    case Field::Proxy:
        m_store.set(keys::kSettings, keys::kProxyEnabled, m_proxy.enabled ? 1 : 0);
        m_store.set(keys::kSettings, keys::kProxyAddress, m_proxy.address);
        m_store.set(keys::kSettings, keys::kProxyPort, m_proxy.port);
        break;
    case Field::NamePolicy:
        m_store.set(keys::kPolicySection, keys::kPolicy, namePolicyText(m_namePolicy));
        break;
    case Field::BrowserEmulation:
        return true; // kept in the registry by its own layer
    }
    return m_store.sync();
}

void ProgramSettings::setDefaultSavePath(const QString& folder)
{
    m_defaultSavePath = folder;
    emit changed(Field::DefaultSavePath);
}

void ProgramSettings::setMaxFileSizeMB(double megabytes)
{
    m_maxFileSizeMB = megabytes;
    emit changed(Field::MaxFileSize);
}

void ProgramSettings::setPromptSavePathOnExtract(int prompt)
{
    m_promptSavePath = prompt;
    emit changed(Field::PromptSavePath);
}

void ProgramSettings::setDownloadMode(DownloadMode mode)
{
    // The download window sets its slots anew on this signal: only a real change sends it.
    if (mode == m_downloadMode)
        return;
    m_downloadMode = mode;
    emit changed(Field::DownloadMode);
}

void ProgramSettings::setProxy(const ProxySettings& proxy)
{
    m_proxy = proxy;
    emit changed(Field::Proxy);
}

void ProgramSettings::setNamePolicy(NamePolicy policy)
{
    m_namePolicy = policy;
    emit changed(Field::NamePolicy);
}

void ProgramSettings::setBrowserEmulation(const QString& version, int mode)
{
    m_emulationVersion = version;
    m_emulationMode = mode;
    emit changed(Field::BrowserEmulation);
}

void ProgramSettings::setSystem(const QString& bitness, const QString& description)
{
    m_osBitness = bitness;
    m_osDescription = description;
}

QString ProgramSettings::searchEngine() const
{
    const QString engine = m_store.get(keys::kSettings, keys::kSearchEngine, keys::kDefaultSearchEngine).trimmed();
    return engine.isEmpty() ? keys::kDefaultSearchEngine : engine;
}

} // namespace lintbay
