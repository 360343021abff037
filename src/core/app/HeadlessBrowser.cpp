#include "HeadlessBrowser.h"

#include "PageDecoding.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
constexpr int kMaxRedirects = 20;

bool isScriptUrl(const QUrl& url)
{
    return url.scheme().compare(u"javascript"_s, Qt::CaseInsensitive) == 0;
}
} // namespace

HeadlessBrowser::HeadlessBrowser(QNetworkAccessManager* nam, QObject* parent) : Browser(parent), m_nam(nam) {}

HeadlessBrowser::~HeadlessBrowser()
{
    abortCurrent();
}

void HeadlessBrowser::navigate(const QUrl& url)
{
    if (isScriptUrl(url))
        return; // nothing runs scripts here
    start(url, kNewEntry, QUrl());
}

void HeadlessBrowser::goBack()
{
    if (canGoBack())
        start(m_history.at(m_historyIndex - 1), m_historyIndex - 1, QUrl());
}

void HeadlessBrowser::goForward()
{
    if (canGoForward())
        start(m_history.at(m_historyIndex + 1), m_historyIndex + 1, QUrl());
}

bool HeadlessBrowser::click(const ElementLocator& locator)
{
    if (!m_document || !locator.isValid())
        return false;
    const HtmlElement element = m_document->find(locator);
    if (element.isNull())
        return false;
    if (submitForm(element))
        return true;
    // A click anywhere inside a link follows the link.
    QString target;
    for (HtmlElement e = element; !e.isNull(); e = e.parentElement()) {
        const QString tag = e.tagName();
        if (tag == u"A" || tag == u"AREA") {
            target = e.href();
            if (!target.isEmpty())
                break;
        }
    }
    if (target.isEmpty())
        return true;
    const QUrl url(target);
    if (isScriptUrl(url))
        return true;
    // A jump to an anchor of the page already shown loads nothing.
    if (url.hasFragment() && url.adjusted(QUrl::RemoveFragment) == m_url.adjusted(QUrl::RemoveFragment))
        return true;
    start(url, kNewEntry, m_url);
    return true;
}

namespace {
QString locatorKey(const ElementLocator& l)
{
    return l.tag + u'#' + QString::number(l.index);
}

bool isSubmitControl(const HtmlElement& e)
{
    const QString type = e.attribute(u"type"_s).trimmed().toLower();
    if (e.tagName() == u"INPUT")
        return type == u"submit"_s || type == u"image"_s;
    return e.tagName() == u"BUTTON" && (type.isEmpty() || type == u"submit"_s);
}
} // namespace

bool HeadlessBrowser::setValue(const ElementLocator& locator, const QString& value)
{
    if (!m_document || m_document->find(locator).isNull())
        return false;
    m_fieldValues.insert(locatorKey(m_document->find(locator).locator()), value);
    return true;
}

void HeadlessBrowser::reload()
{
    if (m_url.isValid())
        start(m_url, m_historyIndex, QUrl());
}

bool HeadlessBrowser::submitForm(const HtmlElement& control)
{
    if (!isSubmitControl(control))
        return false;
    HtmlElement form = control.parentElement();
    while (!form.isNull() && form.tagName() != u"FORM")
        form = form.parentElement();
    if (form.isNull())
        return false;
    // The form's fields as a browser sends them, with the clicked control the only submit control.
    QList<std::pair<QString, QString>> fields;
    for (const QString& tag : {u"input"_s, u"textarea"_s, u"select"_s}) {
        for (const HtmlElement& field : form.getElementsByTagName(tag)) {
            const QString name = field.attribute(u"name"_s);
            const QString type = field.attribute(u"type"_s).trimmed().toLower();
            if (name.isEmpty() || type == u"button"_s || type == u"reset"_s || type == u"file"_s)
                continue;
            if ((type == u"submit"_s || type == u"image"_s) && !(field == control))
                continue;
            if ((type == u"checkbox"_s || type == u"radio"_s) && field.attribute(u"checked"_s).isNull())
                continue;
            const QString key = locatorKey(field.locator());
            const QString value = m_fieldValues.contains(key) ? m_fieldValues.value(key)
                                  : tag == u"textarea"_s      ? field.innerText()
                                                              : field.attribute(u"value"_s);
            fields.append({name, value});
        }
    }
    if (control.tagName() == u"BUTTON" && !control.attribute(u"name"_s).isEmpty())
        fields.append({control.attribute(u"name"_s), control.attribute(u"value"_s)});
    // Every reserved character escaped: a "+" left as it is would reach the server as a space.
    QByteArray encoded;
    for (const auto& [name, value] : std::as_const(fields)) {
        if (!encoded.isEmpty())
            encoded += '&';
        encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    const QString action = form.attribute(u"action"_s).trimmed();
    QUrl target = action.isEmpty() ? m_url : m_url.resolved(QUrl(action));
    if (form.attribute(u"method"_s).trimmed().compare(u"post"_s, Qt::CaseInsensitive) == 0) {
        start(target, kNewEntry, m_url, encoded);
    } else {
        target.setQuery(QString::fromUtf8(encoded));
        start(target, kNewEntry, m_url);
    }
    return true;
}

void HeadlessBrowser::requestDocument(std::function<void(HtmlDocumentPtr)> callback)
{
    if (callback)
        callback(m_document);
}

void HeadlessBrowser::stop()
{
    abortCurrent();
    ++m_navigation;
    m_busy = false;
}

void HeadlessBrowser::start(const QUrl& url, int historyTarget, const QUrl& referer, const QByteArray& postBody)
{
    abortCurrent();
    const quint64 navigation = ++m_navigation;
    m_busy = true;
    m_pendingHistoryTarget = historyTarget;
    emit navigationStarting(url);
    emit statusTextChanged(url.toString());
    if (navigation != m_navigation)
        return; // a handler of the signals has already started another navigation

    const bool blank = url.scheme().compare(u"about"_s, Qt::CaseInsensitive) == 0;
    if (blank || !url.isValid() || url.isEmpty() || !m_nam) {
        // Completion always comes later than navigate() returns, as with a real engine.
        const auto error = blank ? QNetworkReply::NoError : QNetworkReply::ProtocolUnknownError;
        QTimer::singleShot(0, this, [this, navigation, url, error] {
            if (navigation != m_navigation)
                return;
            m_lastError = error;
            m_lastStatus = 0;
            m_lastCharset.clear();
            commit(url, HtmlDocument::parse(QString(), url), m_pendingHistoryTarget);
        });
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    if (m_transferTimeoutMs > 0)
        request.setTransferTimeout(m_transferTimeoutMs);
    if (!m_userAgent.isEmpty())
        request.setRawHeader("User-Agent", m_userAgent);
    if (referer.isValid() && referer.scheme().startsWith(u"http"_s))
        request.setRawHeader("Referer", referer.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo));
    QNetworkReply* reply = nullptr;
    if (postBody.isNull()) {
        reply = m_nam->get(request);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = m_nam->post(request, postBody);
    }
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, navigation] { onReplyFinished(reply, navigation); });
}

void HeadlessBrowser::abortCurrent()
{
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void HeadlessBrowser::onReplyFinished(QNetworkReply* reply, quint64 navigation)
{
    reply->deleteLater();
    if (navigation != m_navigation || reply != m_reply)
        return;
    m_reply = nullptr;
    m_lastError = reply->error();
    m_lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // As in a browser, an answer with nothing to show or a file to save leaves the page shown.
    const bool attachment =
        reply->rawHeader("Content-Disposition").trimmed().toLower().startsWith("attachment");
    if (m_document && (m_lastStatus == 204 || m_lastStatus == 205 || attachment)) {
        loadEnded(false);
        return;
    }
    // Error statuses and pages cut short still show what arrived, as in a browser; a failed
    // connection leaves an empty page.
    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    const QUrl finalUrl = reply->url();
    const QString text = decodePage(body, reply->rawHeader("Content-Type"), &m_lastCharset);
    commit(finalUrl, HtmlDocument::parse(text, finalUrl), m_pendingHistoryTarget);
}

void HeadlessBrowser::commit(const QUrl& url, HtmlDocumentPtr document, int historyTarget)
{
    m_fieldValues.clear();
    m_document = std::move(document);
    m_url = url;
    if (historyTarget >= 0 && historyTarget < m_history.size()) {
        m_historyIndex = historyTarget;
        m_history[historyTarget] = url;
    } else if (m_historyIndex >= 0 && m_history.at(m_historyIndex) == url) {
        // Loading the page shown again is a reload, not a new step.
    } else {
        m_history.resize(m_historyIndex + 1);
        m_history.append(url);
        m_historyIndex = int(m_history.size()) - 1;
    }
    loadEnded(m_lastError == QNetworkReply::NoError);
}

void HeadlessBrowser::loadEnded(bool succeeded)
{
    m_lastLoadOk = succeeded;
    m_busy = false;
    emit statusTextChanged(u"完成"_s);
    emit documentComplete(m_url);
}

} // namespace lintbay
