#pragma once

#include "app/ProgramSettings.h"

#include <QPointer>

#include <memory>

namespace lintbay {

class DownloadSession;
class NetworkContext;
class RegistryLayer;
class SettingsStore;

// What the save-folder dialog answered last, held in memory only: the user closed it without
// choosing a folder, and rows are to be named after the file name in their link, not the title.
struct SaveFolderChoice
{
    bool cancelled = false;
    bool nameFromLink = false;
};

// The program context: the settings store and the registry layer, the typed program settings, the
// network context of the downloads and, while the download window is loaded, the download session.
// Windows are handed this object; none of them loads values for another.
class AppContext
{
public:
    AppContext(SettingsStore& store, RegistryLayer& registry);
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    SettingsStore& store() const { return m_store; }
    RegistryLayer& registry() const { return m_registry; }
    ProgramSettings& settings() const { return *m_settings; }
    NetworkContext& network() const { return *m_network; }
    SaveFolderChoice& saveFolderChoice() { return m_saveFolderChoice; }

    // The start-up steps: every stored setting, the bitness, the OS description and the emulation
    // level. Nothing is written.
    void loadStartupValues();
    // At exit: when no emulation level was chosen, the program's own level is written back.
    void restoreEmulationAtExit();

    QString searchEngine() const { return m_settings->searchEngine(); }

    // The download session lives from the download window's load to its unload; null otherwise.
    DownloadSession* downloadSession() const;
    // Makes the session when there is none (the download window's load step).
    DownloadSession& openDownloadSession();
    // Stops its transfers and timers and discards the list (the window's unload step).
    void closeDownloadSession();

private:
    SettingsStore& m_store;
    RegistryLayer& m_registry;
    std::unique_ptr<ProgramSettings> m_settings;
    std::unique_ptr<NetworkContext> m_network;
    QPointer<DownloadSession> m_session;
    QPointer<DownloadSession> m_closing; // closed, its deletion pending
    SaveFolderChoice m_saveFolderChoice;
};

} // namespace lintbay
