#include "AppContext.h"

#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadSession.h"
#include "options/BrowserEmulation.h"
#include "options/OsInfo.h"
#include "options/RegistryLayer.h"

using namespace Qt::StringLiterals;

namespace lintbay {

AppContext::AppContext(SettingsStore& store, RegistryLayer& registry)
    : m_store(store), m_registry(registry), m_settings(std::make_unique<ProgramSettings>(store)),
      m_network(std::make_unique<NetworkContext>())
{
    // The downloads follow the proxy setting wherever it is changed.
    QObject::connect(m_settings.get(), &ProgramSettings::changed, m_network.get(),
                     [this](ProgramSettings::Field field) {
                         if (field != ProgramSettings::Field::Proxy)
                             return;
                         const ProxySettings proxy = m_settings->proxy();
                         m_network->setProxy(proxy.enabled, proxy.address, proxy.port);
                     });
}

AppContext::~AppContext()
{
    delete m_session.data();
    delete m_closing.data();
}

DownloadSession* AppContext::downloadSession() const
{
    return m_session;
}

void AppContext::loadStartupValues()
{
    m_settings->load();
    const ProxySettings proxy = m_settings->proxy();
    m_network->setProxy(proxy.enabled, proxy.address, proxy.port);
    const QString bitness = GetOsBitness();
    m_registry.setOsBitness(bitness);
    m_settings->setSystem(bitness, OsDescription(bitness));
    const auto emulation = GetBrowserEmulation(m_registry, bitness);
    m_settings->setBrowserEmulation(emulation.version, emulation.mode);
}

void AppContext::restoreEmulationAtExit()
{
    const QString v = m_settings->browserEmulationVersion();
    if (v.isEmpty() || v == u"IE默认"_s)
        SetBrowserEmulation(m_registry, u"IE11"_s, 1, m_settings->osBitness());
}

DownloadSession& AppContext::openDownloadSession()
{
    if (!m_session)
        m_session = new DownloadSession(*m_settings, *m_network);
    return *m_session;
}

void AppContext::closeDownloadSession()
{
    if (!m_session)
        return;
    DownloadSession* session = m_session;
    m_session = nullptr;
    session->shutdown();
    // Later, not now: the close may come from a handler that the session's own objects run.
    delete m_closing.data();
    m_closing = session;
    session->deleteLater();
}

} // namespace lintbay
