// The headers of a download's answer: raw bytes from any server, turned into the extension the saved
// file gets (Content-Type through the MIME map, Content-Disposition's file name).
//
// Input: a raw header block, lines ended by LF (or CR LF), "Name: value" each.
//
// Invariants: header bytes become valid UTF-16 text; a Content-Disposition value is one trimmed line;
// every extension taken from a header is empty or a short run of ASCII letters (the MIME map's own
// "mp4" aside), so it can never carry a dot, a separator or anything else that moves a file.

#include "FuzzSupport.h"

#include "download/FileNaming.h"
#include "download/TypeDetection.h"

#include <QList>
#include <QNetworkReply>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isLetterRun(const QString& text, qsizetype maxLength)
{
    if (text.size() > maxLength)
        return false;
    for (QChar c : text) {
        if (!isAsciiLetter(c))
            return false;
    }
    return true;
}

// What MimeToExtension may answer: lower-case letters, or one of the map's own extensions.
void checkMimeExtension(const QString& ext)
{
    if (ext == u"mp4"_s)
        return;
    FUZZ_CHECK(isLetterRun(ext, 5));
    FUZZ_CHECK(ext == ext.toLower());
}

void checkDispositionExtension(const QString& ext)
{
    FUZZ_CHECK(isLetterRun(ext, 5));
}

bool isOneTrimmedLine(const QString& text)
{
    return text == text.trimmed() && !text.contains(u'\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray block = fuzz::bytesOf(data, size);

    const QString blockText = headerValueText(block);
    FUZZ_CHECK(blockText.isValidUtf16());

    // The block as a reply's header list: Qt hands over names and values split at the first colon.
    QList<QNetworkReply::RawHeaderPair> pairs;
    for (const QByteArray& rawLine : block.split('\n')) {
        const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        pairs.append({line.left(colon), line.mid(colon + 1)});

        const QString value = headerValueText(pairs.last().second);
        FUZZ_CHECK(value.isValidUtf16());
        // The download's MIME path: the type without its parameters.
        if (pairs.last().first.trimmed().compare("content-type", Qt::CaseInsensitive) == 0)
            checkMimeExtension(MimeToExtension(value.trimmed().split(u';').value(0).trimmed()));
    }

    const QString fromBlock = 从网络文件Header获取ContentDisposition(blockText);
    FUZZ_CHECK(isOneTrimmedLine(fromBlock));
    checkDispositionExtension(从下载头信息ContentDisposition获取文件名(fromBlock));

    const QString fromPairs = 从网络文件Header获取ContentDisposition(pairs);
    FUZZ_CHECK(isOneTrimmedLine(fromPairs));
    FUZZ_CHECK(fromPairs.isValidUtf16());
    checkDispositionExtension(从下载头信息ContentDisposition获取文件名(fromPairs));

    // Any text at all, header or not, goes through both parsers.
    checkDispositionExtension(从下载头信息ContentDisposition获取文件名(blockText));
    checkMimeExtension(MimeToExtension(blockText));
    return 0;
}
