#include "FileNaming.h"

#include "download/DownloadListModel.h"
#include "util/AnsiCodec.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"

#include <QFileInfo>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
// Far beyond any folder's number of files, far below where a counter would overflow.
constexpr qint64 kCounterLimit = qint64(1) << 53;
} // namespace

namespace {

// Any directory entry blocks a name: a folder or a dangling link there cannot be written either.
bool nameTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

QString counterText(qint64 n)
{
    return u'[' + QString::number(n).rightJustified(3, u'0') + u']';
}

// `stem` + `counter`, the stem shortened so that the whole name with `tail` fits the name limit.
QString fitName(const QString& stem, const QString& counter, const QString& tail)
{
    QString cut = cutFileName(stem, kMaxFileNameBytes - fileNameLength(QString(counter + tail)));
    if (cut.size() < stem.size()) {
        // Windows drops a name's final dots, so a cut must not leave one before the type.
        while (cut.endsWith(u'.'))
            cut.chop(1);
    }
    return cut + counter;
}

// The extension a file name from a header announces: the letters after its last dot, 1 to 5 of them.
QString extensionOfHeaderName(QString text)
{
    text.remove(u'"');
    text.remove(u'\'');
    text = StripControlChars(text);
    const qsizetype dot = text.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString after = trimSpaces(QStringView(text).sliced(dot + 1));
    qsizetype run = 0;
    while (run < after.size() && isAsciiLetter(after[run]))
        ++run;
    if (run > 5)
        return {};
    return after.left(run);
}

// The text of a "filename=" parameter starting at `rest`. A quoted name may hold ";", so it ends at
// its closing quote; an unquoted one (or one whose quote never closes) ends at the first ";".
QString plainFileNameParameter(const QString& rest)
{
    if (rest.startsWith(u'"')) {
        QString name;
        for (qsizetype i = 1; i < rest.size(); ++i) {
            const QChar c = rest[i];
            if (c == u'\\' && i + 1 < rest.size()) {
                name.append(rest[++i]);
            } else if (c == u'"') {
                return name;
            } else {
                name.append(c);
            }
        }
    }
    const qsizetype semicolon = rest.indexOf(u';');
    return semicolon >= 0 ? rest.left(semicolon).trimmed() : rest;
}

// The name of a "filename*=" parameter: charset'language'percent-encoded bytes.
QString extendedFileNameParameter(const QString& rest)
{
    QString text = rest;
    const qsizetype semicolon = text.indexOf(u';');
    if (semicolon >= 0)
        text.truncate(semicolon);
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
        text = text.sliced(1, text.size() - 2);

    QString charset;
    QString encoded = text;
    const qsizetype first = text.indexOf(u'\'');
    const qsizetype second = first >= 0 ? text.indexOf(u'\'', first + 1) : -1;
    if (second > first) {
        charset = text.left(first).trimmed().toLower();
        encoded = text.mid(second + 1);
    }
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toUtf8());
    if (charset == u"utf-8"_s || charset == u"utf8"_s)
        return QString::fromUtf8(bytes);
    if (charset == u"gbk"_s || charset == u"gb2312"_s || charset == u"gb18030"_s || charset == u"cp936"_s)
        return fromAnsiBytes(bytes);
    if (charset == u"iso-8859-1"_s || charset == u"latin1"_s)
        return QString::fromLatin1(bytes);
    return headerValueText(bytes);
}

} // namespace

bool 确定是需要下载(DownloadListModel& list, int row, QStringView policy)
{
    if (row < 0 || row >= list.count())
        return false;
    const DownloadItem& item = list.at(row);
    // Where the file goes when no counter is added: the same path the transfer writes.
    const QFileInfo info(重命名保存路径(item.folder, item.name, item.type, kPolicyOverwrite).path);
    if (!info.isFile())
        return true;
    if (policy.trimmed() != kPolicySkip)
        return true;
    const QString length = QString::number(info.size());
    list.setTransferColumns(row, length, length, kAlreadyExistsSkippedText.toString());
    list.setState(row, DownloadItemState::Done);
    return false;
}

SavePathChoice 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                              QStringView policy, int mode)
{
    const QString dir = folderWithSeparator(folder);
    // Legal parts cannot carry a separator or "..", so the file stays in its folder.
    const QString cleanType = SanitizeFileType(type);
    const QString tail = cleanType.isEmpty() ? QString() : u'.' + cleanType;
    QString base = SanitizeFileName(name);
    // A name that cleans away entirely would leave the folder itself as the path, or a hidden file
    // of the type alone that the list's commands cannot tell as its: the file is then named by the
    // first counter.
    if (base.isEmpty())
        base = counterText(1);

    const QString plainName = fitName(base, QString(), tail);
    const SavePathChoice plain{dir + plainName + tail, plainName};
    const QStringView chosen = policy.trimmed();
    const bool numbers = chosen != kPolicyOverwrite && (mode != 1 || chosen == kPolicyRename);
    if (!numbers || !nameTaken(plain.path))
        return plain;

    // Count on from a counter the name already ends in; brackets elsewhere in the name are text.
    qint64 n = 0;
    const qsizetype open = base.lastIndexOf(u'[');
    const qsizetype close = base.lastIndexOf(u']');
    if (open >= 0 && close > open && base.sliced(close + 1).trimmed().isEmpty()) {
        const QString inner = base.sliced(open + 1, close - open - 1).trimmed();
        bool ok = false;
        const qint64 value = isAsciiDigits(inner) ? inner.toLongLong(&ok) : 0;
        // A counter so large that counting on could overflow is part of the name: the name then
        // takes a fresh counter of its own. So is one too long to stand beside the type (a fresh
        // counter fits in the room a cleaned name leaves; one more digit is kept free for counting on).
        if (ok && value < kCounterLimit &&
            fileNameLength(QString(counterText(value) + tail)) < kMaxFileNameBytes) {
            n = value;
            base.truncate(open);
        }
    }
    base.replace(u'[', u'『');
    base.replace(u']', u'』');

    QString candidate = fitName(base, n != 0 ? counterText(n) : QString(), tail);
    while (nameTaken(dir + candidate + tail) && n < kCounterLimit) {
        ++n;
        candidate = fitName(base, counterText(n), tail);
    }
    return {dir + candidate + tail, candidate};
}

QString headerValueText(QByteArrayView value)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(value);
    if (!utf8.hasError())
        return text;
    return fromAnsiBytes(value);
}

QString 从网络文件Header获取ContentDisposition(const QString& headerBlock)
{
    static const QString kName = u"content-disposition:"_s;
    for (const QStringView rawLine : QStringView(headerBlock).split(u'\n')) {
        const QStringView line = rawLine.trimmed();
        if (line.size() >= kName.size() && line.left(kName.size()).compare(kName, Qt::CaseInsensitive) == 0)
            return line.sliced(kName.size()).trimmed().toString();
    }
    return {};
}

QString 从网络文件Header获取ContentDisposition(const QList<QNetworkReply::RawHeaderPair>& headers)
{
    for (const auto& [name, value] : headers) {
        if (name.trimmed().compare("content-disposition", Qt::CaseInsensitive) == 0)
            return headerValueText(value).trimmed();
    }
    return {};
}

QString 从下载头信息ContentDisposition获取文件名(const QString& value)
{
    const QString text = value.trimmed();

    // The extended form names the file in a declared charset; browsers prefer it when both are given.
    static const QString kExtended = u"filename*="_s;
    const qsizetype extended = text.indexOf(kExtended, 0, Qt::CaseInsensitive);
    if (extended >= 0) {
        const QString ext =
            extensionOfHeaderName(extendedFileNameParameter(text.mid(extended + kExtended.size())));
        if (!ext.isEmpty())
            return ext;
    }

    static const QString kPlain = u"filename="_s;
    const qsizetype plain = text.indexOf(kPlain, 0, Qt::CaseInsensitive);
    if (plain < 0)
        return {};
    return extensionOfHeaderName(plainFileNameParameter(text.mid(plain + kPlain.size()).trimmed()));
}

} // namespace lintbay
