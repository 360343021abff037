#include "UrlCacheIndex.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace lintbay::urlcacheindex {

namespace {

const QByteArray kIndexHeader = "LintbayUrlCache\t1";
// A line longer than this is damage, not an address.
constexpr qint64 kMaxIndexLine = 1024 * 1024;

// Addresses are kept on one line: "%", tabs and line ends (any control character) are escaped, so
// decoding every "%xx" gives the address back unchanged.
QByteArray escapeUrl(const QString& url)
{
    QByteArray out;
    const QByteArray utf8 = url.toUtf8();
    out.reserve(utf8.size());
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '%' || u < 0x20 || u == 0x7F) {
            out.append('%');
            out.append(QByteArray::number(u, 16).rightJustified(2, '0').toUpper());
        } else {
            out.append(c);
        }
    }
    return out;
}

bool parseLine(const QByteArray& line, UrlCacheEntry& entry)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 4)
        return false;
    bool sizeOk = false;
    bool timeOk = false;
    entry.fileName = QString::fromUtf8(fields[0]);
    entry.size = fields[1].toLongLong(&sizeOk);
    const qint64 ms = fields[2].toLongLong(&timeOk);
    entry.url = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[3]));
    if (!sizeOk || !timeOk || entry.size < 0 || entry.url.isEmpty() || !isCacheFileName(entry.fileName) ||
        !keepsInDatabase(entry.url) || !keepsInDatabase(entry.fileName))
        return false;
    entry.stored = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    return entry.stored.isValid();
}

} // namespace

bool keepsInDatabase(QStringView text)
{
    return text.isValidUtf16() && !text.contains(QChar(0xFFFE)) && !text.contains(QChar(0xFFFF));
}

bool isBucketName(QStringView name)
{
    if (name.size() != 2)
        return false;
    for (QChar c : name) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

bool isCacheFileName(const QString& name)
{
    const qsizetype slash = name.indexOf(u'/');
    if (slash != 2 || !isBucketName(QStringView(name).left(2)))
        return false;
    const QStringView file = QStringView(name).sliced(slash + 1);
    if (file.isEmpty() || file == u"." || file == u"..")
        return false;
    for (QChar c : file) {
        if (c == u'/' || c == u'\\' || c == u':' || c.unicode() < 0x20)
            return false;
    }
    return true;
}

bool read(const QString& path, QList<UrlCacheEntry>& entries)
{
    entries.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;

    QList<UrlCacheEntry> parsed;
    // One buffer for every line: QIODevice::readLine(max) would allocate (and give back) the whole
    // limit for each line, which made a store cost more the larger the index. No line is longer than
    // the file, so a file of known size needs no buffer larger than itself.
    const qint64 known = file.isSequential() ? 0 : file.size();
    QByteArray buffer((known > 0 ? std::min(known, kMaxIndexLine) : kMaxIndexLine) + 1, Qt::Uninitialized);
    const auto nextLine = [&]() -> QByteArray {
        const qint64 n = file.readLine(buffer.data(), buffer.size());
        return n > 0 ? QByteArray(buffer.constData(), n) : QByteArray();
    };
    while (!file.atEnd()) {
        QByteArray line = nextLine();
        if (line.isEmpty())
            break; // a read error: keep what was read
        if (!line.endsWith('\n') && !file.atEnd()) {
            // Too long to be an entry: pass over the rest of it.
            while (!file.atEnd() && !nextLine().endsWith('\n')) {
            }
            continue;
        }
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line == kIndexHeader)
            continue;
        UrlCacheEntry entry;
        if (parseLine(line, entry))
            parsed.append(entry);
    }
    QHash<QString, qsizetype> lastOfUrl;
    for (qsizetype i = 0; i < parsed.size(); ++i)
        lastOfUrl.insert(parsed[i].url, i);
    QSet<QString> names;
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        const UrlCacheEntry& entry = parsed[i];
        if (lastOfUrl.value(entry.url) != i || names.contains(entry.fileName))
            continue;
        names.insert(entry.fileName);
        entries.append(entry);
    }
    return true;
}

bool write(const QString& path, const QList<UrlCacheEntry>& entries)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = kIndexHeader + '\n';
    for (const UrlCacheEntry& entry : entries) {
        text += entry.fileName.toUtf8() + '\t' + QByteArray::number(entry.size) + '\t' +
                QByteArray::number(entry.stored.toMSecsSinceEpoch()) + '\t' + escapeUrl(entry.url) + '\n';
    }
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace lintbay::urlcacheindex
