#include "controls/TransferSupport.h"

#include <algorithm>
#include <initializer_list>

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimeZone>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

bool isFetchableUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == u"http"_s || scheme == u"https"_s);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const QString scheme = a.scheme().toLower();
    const int standard = scheme == u"https"_s ? 443 : 80;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(standard) == b.port(standard);
}

QByteArray refererFor(const QUrl& page, const QUrl& target)
{
    if (!isFetchableUrl(page))
        return {};
    if (page.scheme().toLower() == u"https"_s && target.scheme().toLower() != u"https"_s)
        return {};
    if (sameOrigin(page, target))
        return page.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    return page.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
               .toEncoded() +
           '/';
}

void prepareFileRequest(QNetworkRequest& request)
{
    request.setRawHeader("Accept-Encoding", "identity");
}

void limitReplyBuffer(QNetworkReply* reply)
{
    // Large read buffers let the network thread's chunks fragment the heap, so peak memory grew
    // with the file size (about 90 MB for six 128 MB files at 4 MB); at 512 KB it stays near 25 MB
    // whatever the size, and six parallel transfers on loopback are no slower (bench/RESULTS.md).
    constexpr qint64 kReplyBufferBytes = 512 * 1024;
    reply->setReadBufferSize(kReplyBufferBytes);
}

void dropReply(QPointer<QNetworkReply>& pointer, const QObject* receiver)
{
    QNetworkReply* reply = pointer;
    if (!reply)
        return;
    pointer = nullptr;
    QObject::disconnect(reply, nullptr, receiver, nullptr);
    // The abort closes the connection; deleting the reply alone would leave it open. (On a reply that
    // carries an error status already the network layer warns that it sets a second error.)
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

namespace {

// Every Content-Length the answer gave (the network layer joins repeated headers with ", "), each
// read as a number, -1 for one that is not.
QList<qint64> lengthValues(const QNetworkReply* reply)
{
    QList<qint64> values;
    if (!reply->hasRawHeader("Content-Length"))
        return values;
    for (const QByteArray& part : reply->rawHeader("Content-Length").split(',')) {
        bool ok = false;
        const qint64 length = part.trimmed().toLongLong(&ok);
        values.append(ok && length >= 0 ? length : -1);
    }
    return values;
}

} // namespace

qint64 announcedLength(const QNetworkReply* reply)
{
    const QList<qint64> values = lengthValues(reply);
    if (values.isEmpty() || lengthsConflict(reply))
        return -1;
    return values.constFirst();
}

bool lengthsConflict(const QNetworkReply* reply)
{
    const QList<qint64> values = lengthValues(reply);
    return std::any_of(values.cbegin(), values.cend(), [&](qint64 v) { return v != values.constFirst(); });
}

qint64 sizeLimitBytes(double megabytes)
{
    if (!(megabytes > 0))
        return 1;
    const double bytes = megabytes * 1024 * 1024;
    return bytes >= 9e18 ? 0 : qMax<qint64>(1, qint64(bytes));
}

bool isHttpStatusError(const QNetworkReply* reply, int error)
{
    if ((error >= 201 && error <= 299) || (error >= 401 && error <= 499))
        return true;
    // Qt tells 400 and 418 as a protocol error, though the server answered. (407 stays an error: it
    // is a proxy's, not the document server's.)
    return error == QNetworkReply::ProtocolInvalidOperationError && reply &&
           reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
}

bool bodyEndedNormally(const QNetworkReply* reply)
{
    const int error = reply->error();
    if (error == QNetworkReply::NoError)
        return true;
    // Content errors (4xx) and server errors (5xx) come with the server's own page.
    return isHttpStatusError(reply, error) && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

QDateTime parseHttpDate(const QByteArray& text)
{
    const QString value = QString::fromLatin1(text).simplified();
    const QLocale c = QLocale::c();
    // The current form, the one of RFC 850 (two-digit year) and that of C's asctime().
    for (const QString& format : {u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s, u"dddd, dd-MMM-yy hh:mm:ss 'GMT'"_s,
                                  u"ddd MMM d hh:mm:ss yyyy"_s}) {
        const QDateTime parsed = c.toDateTime(value, format);
        if (!parsed.isValid())
            continue;
        QDate date = parsed.date();
        if (date.year() < 1970)
            date = date.addYears(100);
        return QDateTime(date, parsed.time(), QTimeZone::utc());
    }
    return {};
}

qint64 retryAfterMs(const QNetworkReply* reply)
{
    if (!reply || !reply->hasRawHeader("Retry-After"))
        return -1;
    const QByteArray value = reply->rawHeader("Retry-After").trimmed();
    bool isNumber = false;
    const qint64 seconds = value.toLongLong(&isNumber);
    if (isNumber)
        return seconds < 0 ? -1 : qMin(seconds, qint64(1) << 40) * 1000;
    const QDateTime when = parseHttpDate(value);
    if (!when.isValid())
        return -1;
    const QDateTime serverNow = parseHttpDate(reply->rawHeader("Date"));
    const QDateTime now = serverNow.isValid() ? serverNow : QDateTime::currentDateTimeUtc();
    return qMax<qint64>(0, now.msecsTo(when));
}

QString statusLine(const QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return {};
    const bool http2 = reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    const QString reason =
        QString::fromLatin1(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    return (http2 ? u"HTTP/2 "_s : u"HTTP/1.1 "_s) + QString::number(status.toInt()) +
           (reason.isEmpty() ? QString() : u' ' + reason);
}

QString headerBlock(const QNetworkReply* reply)
{
    QString block = statusLine(reply);
    if (block.isEmpty() && reply->rawHeaderPairs().isEmpty())
        return {};
    block += u"\r\n"_s;
    for (const auto& [name, value] : reply->rawHeaderPairs())
        block += QString::fromLatin1(name) + u": "_s + QString::fromLatin1(value) + u"\r\n"_s;
    return block;
}

bool documentLooksWhole(QByteArrayView head, QByteArrayView tail)
{
    if (head.startsWith("%PDF-"))
        return tail.contains("%%EOF");
    if (head.startsWith(QByteArrayView("PK\x03\x04", 4)))
        return tail.contains(QByteArrayView("PK\x05\x06", 4));
    if (head.startsWith("{\\rtf")) {
        qsizetype end = tail.size();
        while (end > 0 && (tail[end - 1] == '\0' || QChar::isSpace(uchar(tail[end - 1]))))
            --end;
        return end > 0 && tail[end - 1] == '}';
    }
    return true;
}

bool startsLikeADocument(QByteArrayView head)
{
    return head.startsWith("%PDF-") || head.startsWith(QByteArrayView("PK\x03\x04", 4)) ||
           head.startsWith("{\\rtf") ||
           head.startsWith(QByteArrayView("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}

namespace {

// The start of a page as lower-case 8-bit text: a byte order mark dropped, UTF-16 made UTF-8.
QByteArray pageStart(const QByteArray& head)
{
    QByteArray start = head.left(kPageStartBytes);
    if (start.startsWith("\xEF\xBB\xBF")) {
        start.remove(0, 3);
    } else if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(start.startsWith("\xFF") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        start = QString(utf16(QByteArrayView(start).sliced(2))).toUtf8();
    }
    return start.toLower();
}

bool containsAny(const QByteArray& lowerText, std::initializer_list<const char*> keys)
{
    return std::any_of(keys.begin(), keys.end(), [&](const char* key) { return lowerText.contains(key); });
}

} // namespace

bool hasPageMarkup(const QByteArray& lowerText)
{
    return containsAny(lowerText, {"<html ", "html>"}) &&
           containsAny(lowerText, {"<title>", "<head>", "<body>"});
}

bool startsAsWebPage(const QByteArray& head)
{
    const QByteArray start = pageStart(head);
    return start.trimmed().startsWith('<') && hasPageMarkup(start);
}

bool isOfficeWebDocument(const QByteArray& head)
{
    const QByteArray start = pageStart(head);
    const qsizetype open = start.indexOf("<html");
    const qsizetype close = open < 0 ? -1 : start.indexOf('>', open);
    return close > open &&
           QByteArrayView(start).sliced(open, close - open).contains("urn:schemas-microsoft-com:office:");
}

} // namespace lintbay
