#include "uXMLHTTP.h"

#include "app/PageDecoding.h"
#include "controls/NetworkContext.h"
#include "controls/TransferSupport.h"
#include "tools/UrlCache.h"

#include <QDir>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

const QHash<int, QString>& statusTable()
{
    // The "?" characters are part of the texts the program has always shown.
    static const QHash<int, QString> table{
        {100, u"客户必须继续发出请求"_s},
        {101, u"客户要求服务器根据请求转换HTTP协议版本"_s},
        {200, u"交易成功"_s},
        {201, u"提示知道新文件的URL"_s},
        {202, u"接受和处理?但处理未完成"_s},
        {203, u"返回信息不确定或不完整"_s},
        {204, u"请求收到，但返回信息为空"_s},
        {205, u"服务器完成了请求，用户代理必须复位当前已经浏览过的文件"_s},
        {206, u"服务器已经完成了部分用户的GET请求"_s},
        {300, u"请求的资源可在多处得到"_s},
        {301, u"删除请求数据"_s},
        {302, u"在其他地址发现了请求数据"_s},
        {303, u"建议客户访问其他URL或访问方式"_s},
        {304, u"客户端已经执行了GET，但文件未变化"_s},
        {305, u"请求的资源必须从服务器指定的地址得到"_s},
        {306, u"前一版本HTTP中使用的代码，现行版本中不再使用"_s},
        {307, u"申明请求的资源临时性删除"_s},
        {400, u"错误请求，如语法错误"_s},
        {401, u"请求授权失败"_s},
        {402, u"保留有效ChargeTo头响应"_s},
        {403, u"请求不允许"_s},
        {404, u"没有发现文件?查询或URl"_s},
        {405, u"用户在Request -Line字段定义的方法不允许"_s},
        {406, u"根据用户发送的Accept拖，请求资源不可访问"_s},
        {407, u"类似401，用户必须首先在代理服务器上得到授权"_s},
        {408, u"客户端没有在用户指定的饿时间内完成请求"_s},
        {409, u"对当前资源状态，请求不能完成"_s},
        {410, u"服务器上不再有此资源且无进一步的参考地址"_s},
        {411, u"服务器拒绝用户定义的Content -Length属性请求"_s},
        {412, u"一个或多个请求头字段在当前请求中错误"_s},
        {413, u"请求的资源大于服务器允许的大小"_s},
        {414, u"请求的资源URL长于服务器允许的长度"_s},
        {415, u"请求资源不支持请求项目格式"_s},
        {416,
         u"请求中包含Range请求头字段，在当前请求资源范围内没有range指示值，请求也不包含If-Range请求头字段"_s},
        {417,
         u"服务器不满足请求Expect头字段指定的期望值，如果是代理服务器，可能是下一级服务器不能满足请求"_s},
        {500, u"服务器产生内部错误"_s},
        {501, u"服务器不支持请求的函数"_s},
        {502, u"服务器暂时不可用，有时是为了防止发生系统过载"_s},
        {503, u"服务器过载或暂停维修"_s},
        {504, u"关口过载，服务器使用另一个关口或服务来响应用户，等待时间设定值较长"_s},
        {505, u"服务器不支持或拒绝支请求头中指定的HTTP版本"_s},
    };
    return table;
}

// An HTTP method is a token: visible ASCII without separators.
bool isToken(const QByteArray& word)
{
    if (word.isEmpty())
        return false;
    static const QByteArray separators("()<>@,;:\\\"/[]?={}");
    for (const char c : word) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || separators.contains(c))
            return false;
    }
    return true;
}

// A header name is a token; a value holds no line breaks (they would start a header of their own).
bool isHeaderValue(const QByteArray& value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

} // namespace

QString XmlHttpStatusDescription(int status)
{
    return statusTable().value(status);
}

QString XmlHttpSavePath(const QString& saveFile)
{
    const QString path = saveFile.trimmed();
    if (path.isEmpty())
        return {};
    if (path.left(8).toLower() == u"file:///"_s) {
        const QUrl url(path, QUrl::TolerantMode);
        if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
            return QDir::toNativeSeparators(url.toLocalFile());
        // Not a well-formed address: the rest of it is the path.
        return QDir::toNativeSeparators(path.mid(8));
    }
    return QDir::toNativeSeparators(QDir::fromNativeSeparators(path));
}

uXMLHTTP::uXMLHTTP(NetworkContext& network, QObject* parent)
    : QObject(parent), tmrReader(new QTimer(this)), m_network(network)
{
    tmrReader->setObjectName(u"tmrReader"_s);
    tmrReader->setInterval(kDefaultPollMs);
    connect(tmrReader, &QTimer::timeout, this, &uXMLHTTP::onTick);
}

uXMLHTTP::~uXMLHTTP()
{
    tmrReader->stop();
    dropReply(m_reply, this);
}

bool uXMLHTTP::Open_(const QString& Method, const QString& Url, const QString& SaveFile)
{
    m_downOK = false;
    const QByteArray method = Method.trimmed().toUpper().toLatin1();
    const QUrl url(Url.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!isToken(method) || Method.trimmed().toUpper() != QString::fromLatin1(method) || !url.isValid() ||
        (scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty())
        return false;

    // Like any fresh open, the previous request is forgotten; polling resumes with the next Send_.
    tmrReader->stop();
    dropReply(m_reply, this);
    m_body.clear();
    m_tooLarge = false;
    m_headers.clear();
    m_method = method;
    m_url = url.adjusted(QUrl::RemoveFragment);
    m_readyState = 1;
    m_prepared = true;
    m_opened = true;
    m_saveFile = SaveFile;
    return true;
}

void uXMLHTTP::SetRequestHeader(const QString& Header, const QString& Value)
{
    if (!m_prepared)
        return;
    const QByteArray name = Header.trimmed().toLatin1();
    const QByteArray value = Value.trimmed().toUtf8();
    if (!isToken(name) || Header.trimmed() != QString::fromLatin1(name) || !isHeaderValue(value))
        return;
    m_headers.append({name, value});
}

void uXMLHTTP::Send_(const QByteArray& Body)
{
    if (m_prepared) {
        m_prepared = false;
        QNetworkRequest request(m_url);
        if (!m_network.userAgent().isEmpty())
            request.setHeader(QNetworkRequest::UserAgentHeader, m_network.userAgent());
        for (const auto& [name, value] : std::as_const(m_headers))
            request.setRawHeader(name, value);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);

        QNetworkAccessManager* nam = m_network.manager();
        QNetworkReply* reply = nullptr;
        if (m_method == "GET")
            reply = nam->get(request);
        else if (m_method == "HEAD")
            reply = nam->head(request);
        else
            reply = nam->sendCustomRequest(request, m_method, Body);
        m_reply = reply;
        connect(reply, &QNetworkReply::metaDataChanged, this, &uXMLHTTP::onMetaData);
        connect(reply, &QNetworkReply::readyRead, this, &uXMLHTTP::onReadyRead);
        connect(reply, &QNetworkReply::finished, this, &uXMLHTTP::onFinished);
        // The body of a redirect is not the answer.
        connect(reply, &QNetworkReply::redirected, this, [this] {
            m_body.clear();
            if (m_reply)
                m_reply->readAll();
        });
    }
    // Once opened, the poll always runs after a Send_; only a request given up by Abort_ has nothing
    // left to report and would be polled for ever.
    if (m_opened && m_readyState != 0)
        tmrReader->start();
}

void uXMLHTTP::Abort_()
{
    tmrReader->stop();
    dropReply(m_reply, this);
    m_prepared = false;
    m_readyState = 0;
    m_body.clear();
}

void uXMLHTTP::onMetaData()
{
    if (m_readyState < 2 && m_reply && m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        m_readyState = 2;
}

void uXMLHTTP::onReadyRead()
{
    if (!m_reply || m_tooLarge)
        return;
    m_body += m_reply->readAll();
    if (m_readyState < 3)
        m_readyState = 3;
    if (m_maxBody > 0 && m_body.size() > m_maxBody) {
        // A server that keeps sending would otherwise fill memory until the owner gives up.
        m_tooLarge = true;
        m_body.clear();
        m_reply->abort(); // finished() follows at once
    }
}

void uXMLHTTP::onFinished()
{
    if (!m_reply)
        return;
    if (!m_tooLarge)
        m_body += m_reply->readAll();
    m_readyState = 4;
    // Answers the program fetched are kept in its URL cache, as the platform's request object did.
    if (m_reply->error() == QNetworkReply::NoError && !m_body.isEmpty())
        UrlCache().store(m_reply->url().toString(), m_body);
}

int uXMLHTTP::Status() const
{
    if (!m_reply || m_readyState < 2)
        return 0;
    return m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QString uXMLHTTP::StatusText() const
{
    if (!m_reply || m_readyState < 2)
        return {};
    return QString::fromLatin1(m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
}

QString uXMLHTTP::GetResponseHeader(const QString& Header) const
{
    if (!m_reply || m_readyState < 2 || Header.trimmed().isEmpty())
        return {};
    const QByteArray name = Header.trimmed().toLatin1();
    QStringList values;
    for (const auto& [key, value] : m_reply->rawHeaderPairs()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            values.append(QString::fromLatin1(value));
    }
    return values.join(u", "_s);
}

QString uXMLHTTP::GetAllResponseHeaders() const
{
    if (!m_reply || m_readyState < 2)
        return {};
    QString all;
    for (const auto& [key, value] : m_reply->rawHeaderPairs())
        all += QString::fromLatin1(key) + u": "_s + QString::fromLatin1(value) + u"\r\n"_s;
    return all;
}

QByteArray uXMLHTTP::ResponseBody() const
{
    return m_readyState >= 3 ? m_body : QByteArray();
}

QString uXMLHTTP::ResponseText() const
{
    if (m_readyState < 3 || m_body.isEmpty())
        return {};
    const QByteArray contentType =
        m_reply ? m_reply->header(QNetworkRequest::ContentTypeHeader).toByteArray() : QByteArray();
    return decodePage(m_body, contentType);
}

void uXMLHTTP::onTick()
{
    QPointer<uXMLHTTP> self(this);
    emit OnReadyStateChange();
    if (!self || m_readyState != 4 || !tmrReader->isActive())
        return;
    tmrReader->stop();
    m_downOK = true;
    const int status = Status();
    // A 200 whose connection broke on the way brought part of the body: no arrival, and nothing saved.
    const bool broke = !m_tooLarge && m_reply && m_reply->error() != QNetworkReply::NoError &&
                       !isHttpStatusError(m_reply, m_reply->error());
    if (status == 200 && !broke) {
        saveBody();
        emit OnDateArrived();
    } else {
        emit OnDateErr(XmlHttpStatusDescription(status == 200 ? 0 : status));
    }
}

void uXMLHTTP::saveBody() const
{
    const QString path = XmlHttpSavePath(m_saveFile);
    // A body shorter than two bytes has always counted as no body: nothing is written, and a file
    // already at the path stays as it is.
    if (path.isEmpty() || m_body.size() < 2)
        return;
    // Written beside the target and renamed over it in one step: a failed write leaves an older file
    // whole instead of deleted. Write errors are not reported; an owner that needs the file checks it.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (file.write(m_body) != m_body.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

} // namespace lintbay
