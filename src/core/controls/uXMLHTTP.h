#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <utility>

class QNetworkReply;

namespace lintbay {

class NetworkContext;

// One asynchronous HTTP request whose outcome arrives as an event: the owner calls Open_, maybe
// SetRequestHeader, then Send_, and hears OnDateArrived (status 200; with a save path the body is on
// disk by then) or OnDateErr (any other status, with its Chinese description). Completion is noticed
// by polling the request state from tmrReader, so every event is raised from a timer tick, never from
// inside a call of the owner. Redirects are followed (never from https to http); there is no proxy.
// The request has no time-out of its own: the owner calls Abort_ when it stops waiting.
//
// The owner may delete the object in any of its signal handlers.
class uXMLHTTP : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultPollMs = 10;

    explicit uXMLHTTP(NetworkContext& network, QObject* parent = nullptr);
    ~uXMLHTTP() override; // stops polling and drops a running request without an event

    // --- methods, in the order the owner uses them ---

    // Prepares a request (always asynchronous) and forgets the previous one, which is cancelled if it
    // still runs. `saveFile` is where a 200 body goes; a "file:///" address is read as the local path
    // it names. Returns false, and leaves the previous save path as it was, when the method is not an
    // HTTP token or the address is not an absolute http or https address.
    bool Open_(const QString& Method, const QString& Url, const QString& SaveFile = {});
    // Adds a header to the request prepared by Open_; ignored before Open_ or after Send_.
    void SetRequestHeader(const QString& Header, const QString& Value);
    // Sends the prepared request (a GET or HEAD goes without a body whatever is given) and turns the
    // poll on once an Open_ has ever succeeded. Sending anything but a freshly prepared request sends
    // nothing: the poll then waits for the request still running, or reports a finished one's outcome
    // again; after Abort_ it stays off.
    void Send_(const QByteArray& Body = {});
    // Stops polling and cancels the request; no event follows. ReadyState returns to 0.
    void Abort_();

    // --- read-only properties (neutral values while there is nothing to read) ---

    bool DownOK() const { return m_downOK; }
    // 0 nothing prepared, 1 prepared or sent, 2 status and headers known, 3 body arriving, 4 done.
    int ReadyState() const { return m_readyState; }
    int Status() const; // 0 without an HTTP answer
    QString StatusText() const;
    QString GetResponseHeader(const QString& Header) const; // case-insensitive; "" when absent
    QString GetAllResponseHeaders() const;                  // "Name: value\r\n" per header
    QByteArray ResponseBody() const;
    // The body decoded by its byte order mark, Content-Type charset or meta declaration, else UTF-8
    // when it is valid UTF-8, else GBK.
    QString ResponseText() const;

    // Bodies longer than this (0: no limit) are not the answer the owner waits for: the request
    // ends there as one with an empty body, and nothing more is read or kept.
    void setMaxBodyBytes(qint64 bytes) { m_maxBody = bytes; }

    // The poll interval of tmrReader; tests slow it down to count ticks.
    void setPollInterval(int ms) { tmrReader->setInterval(ms); }
    int pollInterval() const { return tmrReader->interval(); }
    QString saveFile() const { return m_saveFile; }

    QTimer* const tmrReader;

signals:
    // In the order the control has always declared them.
    void OnDateArrived();
    // Raised on every poll tick, before the state is looked at.
    void OnReadyStateChange();
    void OnDateErr(const QString& ErrText);

private:
    void onTick();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void saveBody() const;

    NetworkContext& m_network;
    QPointer<QNetworkReply> m_reply;

    bool m_opened = false;   // an Open_ has succeeded at some time
    bool m_prepared = false; // Open_ done, Send_ not yet
    bool m_downOK = false;
    int m_readyState = 0;
    QByteArray m_method;
    QUrl m_url;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    QString m_saveFile;

    QByteArray m_body;
    qint64 m_maxBody = 0;
    bool m_tooLarge = false;
};

// The description of an HTTP status the control reports in OnDateErr. Statuses without an entry,
// including 0 (no HTTP answer at all), negative ones and everything above 600, give an empty text, so
// an owner meets a single rule: a status the table does not know carries no description.
QString XmlHttpStatusDescription(int status);

// The local file a save path names: surrounding blanks dropped, a "file:///" address (any case)
// turned into the local path it names, separators made the platform's own. Empty when the path is.
QString XmlHttpSavePath(const QString& saveFile);

} // namespace lintbay
