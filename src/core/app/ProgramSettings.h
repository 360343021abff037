#pragma once

#include <QObject>
#include <QString>

namespace lintbay {

class SettingsStore;

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
inline const QString kPolicySection = QStringLiteral("专利下载");
inline const QString kPolicy = QStringLiteral("重复文件名设置");
inline const QString kVerificationPause = QStringLiteral("安全验证最长等待分钟");
inline const QString kPerHostLimit = QStringLiteral("每个网站同时下载数");
} // namespace keys

// The default save folder: "12345" in the user's home folder, in native form.
QString DefaultSaveFolder();

// 1: one transfer at a time, through the proxy, with the response's headers judged first;
// 2: parallel slots.
enum class DownloadMode { Single = 1, Parallel = 2 };

// What happens to an existing file of the same name: the captions "跳过", "覆盖", "重命名".
enum class NamePolicy { Skip, Overwrite, Rename };
QString namePolicyText(NamePolicy policy);
// Any text that is not one of the three captions (trimmed) is "重命名".
NamePolicy namePolicyFromText(const QString& text);

struct ProxySettings
{
    bool enabled = false;
    QString address;
    QString port;

    bool operator==(const ProxySettings&) const = default;
};

// The values the whole program shares, as one typed object: loaded from the settings store once at
// start, changed by the options dialog, the save-folder dialog and the download window, and
// observed by whoever depends on them (the download session, the windows) through `changed`.
// Setting a value announces it, also when it keeps its value; only the download mode is announced
// when it changes, since the download window sets its slots anew on it (applying the options dialog
// with the mode it has keeps the user's slot count).
// Writing to the store is a separate step (store()), because some values are written only when a
// window unloads.
class ProgramSettings : public QObject
{
    Q_OBJECT
public:
    enum class Field
    {
        DefaultSavePath,
        MaxFileSize,
        PromptSavePath,
        DownloadMode,
        Proxy,
        NamePolicy,
        BrowserEmulation,
    };
    Q_ENUM(Field)

    explicit ProgramSettings(SettingsStore& store, QObject* parent = nullptr);

    // Reads every stored value; writes nothing. A value that is missing or not a number takes its
    // default.
    void load();
    // Writes one value to the store; false when the store's file could not be written.
    bool store(Field field);

    QString defaultSavePath() const { return m_defaultSavePath; }
    void setDefaultSavePath(const QString& folder);
    double maxFileSizeMB() const { return m_maxFileSizeMB; }
    void setMaxFileSizeMB(double megabytes);
    // 1: the save folder is asked for when extraction starts; anything else: at hand-over.
    int promptSavePathOnExtract() const { return m_promptSavePath; }
    void setPromptSavePathOnExtract(int prompt);
    DownloadMode downloadMode() const { return m_downloadMode; }
    void setDownloadMode(DownloadMode mode);
    ProxySettings proxy() const { return m_proxy; }
    void setProxy(const ProxySettings& proxy);
    NamePolicy namePolicy() const { return m_namePolicy; }
    void setNamePolicy(NamePolicy policy);

    // The embedded browser's emulation level ("IE7" … "IE11", "IE默认" or empty) and the column it
    // was read from; kept in the machine-wide registry, not in the store.
    QString browserEmulationVersion() const { return m_emulationVersion; }
    int browserEmulationMode() const { return m_emulationMode; }
    void setBrowserEmulation(const QString& version, int mode);

    // Read from the system at start.
    QString osBitness() const { return m_osBitness; }
    QString osDescription() const { return m_osDescription; }
    void setSystem(const QString& bitness, const QString& description);

    // Transfers at once to one host (default 2; 0: no limit). The slot count stays the overall limit.
    int perHostLimit() const { return m_perHostLimit; }

    // The longest pause of a batch at the engine's verification page, in minutes (default 10).
    double verificationPauseMinutes() const { return m_verificationPauseMinutes; }

    // The search engine: a bare host ("www.baidu.com") or an address with a scheme used as it stands.
    QString searchEngine() const;

signals:
    void changed(lintbay::ProgramSettings::Field field);

private:
    SettingsStore& m_store;
    QString m_defaultSavePath;
    double m_maxFileSizeMB = 10;
    int m_promptSavePath = 1;
    DownloadMode m_downloadMode = DownloadMode::Parallel;
    ProxySettings m_proxy;
    NamePolicy m_namePolicy = NamePolicy::Rename;
    double m_verificationPauseMinutes = 10;
    int m_perHostLimit = 2;
    QString m_emulationVersion;
    int m_emulationMode = 1;
    QString m_osBitness;
    QString m_osDescription;
};

} // namespace lintbay
