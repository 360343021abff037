#pragma once

#include <QString>

namespace lintbay {

class SettingsStore;
class RegistryLayer;

// Fixed section and key names of the settings store shared by several windows.
namespace keys {
inline const QString kSettings = QStringLiteral("设置");
inline const QString kDefaultSavePath = QStringLiteral("下载文件保存路径");
inline const QString kMaxFileSize = QStringLiteral("文件最大值");
inline const QString kPromptSavePath = QStringLiteral("提取网页信息时提示下载保存路径");
inline const QString kDownloadMode = QStringLiteral("下载方式");
inline const QString kProxyAddress = QStringLiteral("代理服务器网址");
inline const QString kProxyPort = QStringLiteral("代理服务器端口");
inline const QString kProxyEnabled = QStringLiteral("代理服务器有效");
inline const QString kSearchEngine = QStringLiteral("搜索引擎网址");
inline const QString kDefaultSearchEngine = QStringLiteral("www.baidu.com");
} // namespace keys

// The default save folder: "12345" in the user's home folder, in native form.
QString DefaultSaveFolder();

// Values the whole program shares, loaded at start or by the window that first needs them. One
// object is made by the program and handed to every window.
struct ProgramValues
{
    QString DefaultSavePath;
    double MaxFileSizeMB = 10;
    int PromptSavePathOnExtract = 1;
    int DownloadMode = 2;
    bool ProxyEnabled = false;
    QString ProxyAddress;
    QString ProxyPort;
    QString OsBitness;
    QString BrowserEmulationVersion;
    int BrowserEmulationMode = 1;
    QString OsDescription;
    // Set by the save-folder dialog, held in memory only: the user closed it without choosing a
    // folder, and rows are to be named after the file name in their link instead of the title.
    bool SaveDialogCancelled = false;
    bool NameFromLink = false;
};

// The settings store, the registry layer and the program-wide values, handed to the windows.
class AppContext
{
public:
    AppContext(SettingsStore& settings, RegistryLayer& registry);

    SettingsStore& settings() const { return m_settings; }
    RegistryLayer& registry() const { return m_registry; }
    ProgramValues& values() { return m_values; }
    const ProgramValues& values() const { return m_values; }

    // The start-up window's loading steps: save folder, bitness, OS description, emulation level,
    // size limit. Nothing is written.
    void loadStartupValues();
    // Loaded when the search window loads.
    void loadPromptSavePath();
    // At exit: when no emulation level was chosen, the program's own level is written back.
    void restoreEmulationAtExit();

    // The search engine: a bare host ("www.baidu.com") or an address with a scheme used as it stands.
    QString searchEngine() const;

private:
    SettingsStore& m_settings;
    RegistryLayer& m_registry;
    ProgramValues m_values;
};

} // namespace lintbay
