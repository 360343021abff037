#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <optional>

namespace lintbay {

class SettingsStore;
class uXMLHTTP;

namespace keys {
// Section "设置": the address of the program's folder on the maker's web server. Empty (the default)
// means there is no server to ask, and the check is not made.
inline const QString kUpdateAddress = QStringLiteral("更新网址");
} // namespace keys

// A version as one number: major × 10,000,000 + minor × 10,000 + revision. Empty when the parts are
// negative or the number does not fit in 64 bits.
std::optional<qint64> VersionScore(qint64 major, qint64 minor, qint64 revision);
// The running program's score.
qint64 RunningVersionScore();

// A newest-version answer the check accepts.
struct UpdateAnswer
{
    QString text; // trimmed, as the server wrote it ("1.3.0")
    qint64 score = 0;
};

// Reads the body of "/newver.txt". Ignored (empty result): a body that is not UTF-8 text, nothing
// but blanks, 21 characters or longer once trimmed, not exactly three parts between dots, a part that
// is not a run of the digits 0-9, or a version too large to score.
std::optional<UpdateAnswer> ParseUpdateAnswer(const QByteArray& body);

// Whether the answer names a version newer than the one scored `runningScore`.
bool IsNewerVersion(const UpdateAnswer& answer, qint64 runningScore);

// What the start-up window's Label3 says about a newer version.
QString NewVersionLabelText(const QString& answerText);

// The program's folder on the maker's server from the setting: blanks trimmed, "http://" assumed
// when no scheme is given. Invalid (the check is skipped) when empty, not http or https, or hostless.
QUrl UpdateBaseUrl(const QString& setting);
// The program's page on the maker's site (the folder itself) and its version file under it.
QUrl ProgramPageUrl(const QUrl& base);
QUrl VersionFileUrl(const QUrl& base);
// The program's page as the settings name it; invalid while no server is set.
QUrl ProgramPageUrl(const SettingsStore& settings);

// Asks the maker's server, once, for the newest version, through the owner's request control. Never
// waits: the answer comes back as a signal. Every failure is silent except an answer with a status
// other than 200 (networkError); a malformed answer and a server that does not answer within the
// time-out are dropped without a word, so a server that does not exist never troubles the user.
class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 60000;

    UpdateCheck(uXMLHTTP& request, SettingsStore& settings, QObject* parent = nullptr);

    // Sends the request; false, with nothing sent, when no usable server address is set or a check
    // is already waiting.
    bool start();
    bool isRunning() const { return m_pending; }

    // The version compared against; the running program's unless set.
    void setRunningScore(qint64 score) { m_runningScore = score; }
    void setTimeout(int ms) { m_timeout.setInterval(ms); }

    // The program's page of the address the last start() used.
    QUrl programPage() const { return m_page; }

signals:
    void newerVersionFound(const QString& answerText);
    // The server answered with a status other than 200, or not at all (status 0).
    void networkError();
    // The check is over, whatever came of it.
    void finished();

private:
    void onArrived();
    void onError();
    void onTimeout();

    uXMLHTTP& m_request;
    SettingsStore& m_settings;
    QTimer m_timeout;
    qint64 m_runningScore;
    QUrl m_page;
    bool m_pending = false;
};

} // namespace lintbay
