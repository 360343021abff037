#include "TypeDetection.h"

#include "PackageType.h"

#include "controls/TransferSupport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <initializer_list>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// ---- content types ----

// One content type the map knows. A null extension means "the subtype itself", which then has to
// pass the letter filter; a given extension is used as it is (even an empty one).
struct MimeRow
{
    const char16_t* type;
    const char16_t* subtype;
    const char16_t* extension;
};

// In lookup order; the first row that matches wins.
constexpr MimeRow kMimeRows[] = {
    {u"application", u"octet-stream", u""},
    {u"application", u"x-shockwave-flash", u"swf"},
    {u"application", u"x-javascript", u"js"},
    {u"application", u"vnd.rn-realmedia", u"rm"},
    {u"application", u"vnd.ms-wpl", u"wpl"},
    {u"application", u"kdh", u"kdh"},
    {u"application", u"caj", u"caj"},
    {u"application", u"pdf", u"pdf"},
    {u"application", u"caa", u"caa"},
    {u"application", u"nh", u"nh"},
    {u"application", u"vnd.ms-works", u"wps"},
    {u"application", u"ppt", u"ppt"},
    {u"application", u"vnd.ms-powerpoint", u"ppt"},
    {u"application", u"doc", u"doc"},
    {u"application", u"msword", u"doc"},
    {u"application", u"docx", u"docx"},
    {u"application", u"vnd.openxmlformats-officedocument.wordprocessingml.document", u"docx"},
    {u"application", u"vnd.openxmlformats-officedocument.wordprocessingml.template", u"dotx"},
    {u"application", u"vnd.ms-word.document.macroenabled.12", u"docm"},
    {u"application", u"vnd.ms-word.template.macroenabled.12", u"dotm"},
    {u"application", u"rtf", u"rtf"},
    {u"application", u"xls", u"xls"},
    {u"application", u"vnd.ms-excel", u"xls"},
    {u"application", u"x-excel", u"xls"},
    {u"application", u"xlsx", u"xlsx"},
    {u"application", u"vnd.openxmlformats-officedocument.spreadsheetml.sheet", u"xlsx"},
    {u"application", u"vnd.openxmlformats-officedocument.spreadsheetml.template", u"xltx"},
    {u"application", u"vnd.ms-excel.sheet.macroenabled.12", u"xlsm"},
    {u"application", u"vnd.ms-excel.sheet.binary.macroenabled.12", u"xlsb"},
    {u"application", u"vnd.ms-excel.template.macroenabled.12", u"xltm"},
    {u"application", u"vnd.ms-excel.addin.macroenabled.12", u"xlam"},
    {u"application", u"pptx", u"pptx"},
    {u"application", u"vnd.openxmlformats-officedocument.presentationml.presentation", u"pptx"},
    {u"application", u"pps", u"pps"},
    {u"application", u"ppsx", u"ppsx"},
    {u"application", u"vnd.openxmlformats-officedocument.presentationml.slideshow", u"ppsx"},
    {u"application", u"vnd.openxmlformats-officedocument.presentationml.template", u"potx"},
    {u"application", u"vnd.ms-powerpoint.presentation.macroenabled.12", u"pptm"},
    {u"application", u"vnd.ms-powerpoint.slideshow.macroenabled.12", u"ppsm"},
    {u"application", u"vnd.ms-powerpoint.template.macroenabled.12", u"potm"},
    {u"application", u"vnd.ms-powerpoint.addin.macroenabled.12", u"ppam"},
    {u"application", u"dll", u"dll"},
    {u"application", u"x-msdownload", u"dll"},
    {u"application", u"tar", u"tar"},
    {u"application", u"x-tar", u"tar"},
    {u"application", u"tgz", u"tgz"},
    {u"application", u"x-compressed", u"tgz"},
    {u"application", u"zip", u"zip"},
    {u"application", u"x-zip-compressed", u"zip"},
    {u"application", u"z", u"z"},
    {u"application", u"x-compress", u"z"},
    {u"text", u"html", nullptr},
    {u"text", u"txt", nullptr},
    {u"text", u"htm", nullptr},
    {u"text", u"xml", nullptr},
    {u"text", u"css", nullptr},
    {u"text", u"plain", u"txt"},
    {u"image", u"jpg", nullptr},
    {u"image", u"jpeg", nullptr},
    {u"image", u"gif", nullptr},
    {u"image", u"png", nullptr},
    {u"image", u"bmp", nullptr},
    {u"image", u"tif", nullptr},
    {u"image", u"pjpeg", nullptr},
    {u"image", u"g3fax", nullptr},
    {u"image", u"ief", nullptr},
    {u"image", u"tiff", u"tif"},
    {u"image", u"x-png", u"png"},
    {u"image", u"x-ms-bmp", u"bmp"},
    {u"image", u"x-icon", u"ico"},
    {u"video", u"mpeg", u"mpeg"},
    {u"video", u"mpeg4", u"mp4"},
    {u"video", u"x-msvideo", u"avi"},
    {u"video", u"x-ms-asf", u"asf"},
    {u"video", u"x-ms-wmv", u"wmv"},
    {u"video", u"quicktime", u"mov"},
    {u"audio", u"amr", u"amr"},
    {u"audio", u"x-ms-wma", u"wma"},
    {u"audio", u"x-wav", u"wav"},
    {u"audio", u"x-pn-realaudio", u"ram"},
    {u"audio", u"midi", u"mid"},
    {u"audio", u"x-mpegurl", u"mpeg"},
    {u"message", u"rfc822", u"mht"},
};

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Text from a server becomes an extension only as a short run of letters: no dots, separators or
// anything else that could change where a file lands.
QString letterFilter(const QString& candidate)
{
    qsizetype run = 0;
    while (run < candidate.size() && isAsciiLetter(candidate[run]))
        ++run;
    return run > 5 ? QString() : candidate.left(run);
}

// ---- file signatures ----

constexpr qint64 kHtmlLimit = 200 * 1024;
constexpr qint64 kCaaLimit = 3 * 1024;

// The first bytes of a file. A signature reaching past the end of the file does not match.
class Head
{
public:
    explicit Head(QByteArray bytes) : m_bytes(std::move(bytes)) {}

    bool has(qsizetype offset, std::initializer_list<unsigned char> signature) const
    {
        if (offset + qsizetype(signature.size()) > m_bytes.size())
            return false;
        qsizetype i = offset;
        for (unsigned char b : signature) {
            if (static_cast<unsigned char>(m_bytes[i++]) != b)
                return false;
        }
        return true;
    }
    bool has(qsizetype offset, QByteArrayView text) const
    {
        return offset + text.size() <= m_bytes.size() && m_bytes.sliced(offset, text.size()) == text;
    }
    int byteAt(qsizetype offset) const
    {
        return offset < m_bytes.size() ? static_cast<unsigned char>(m_bytes[offset]) : -1;
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// An Office Open XML package announces its kind in its entry names; Office writes the same local
// header for documents, workbooks and presentations, so the header alone cannot tell them apart.
// Empty when the entries at the head do not tell (OfficePartScan).
QString officePackageKind(const QByteArray& head)
{
    static const QByteArray kLocalHeader("PK\x03\x04", 4);
    OfficePartScan office;
    for (qsizetype at = head.indexOf(kLocalHeader); at >= 0; at = head.indexOf(kLocalHeader, at + 4)) {
        if (at + 30 > head.size())
            break;
        const qsizetype nameLength = qFromLittleEndian<quint16>(head.constData() + at + 26);
        const QByteArrayView rest = QByteArrayView(head).sliced(at + 30);
        if (office.see(rest.first(std::min(nameLength, rest.size()))))
            return office.kind();
    }
    return {};
}

// The local header Office writes in front of its packages.
bool hasOfficeWriterZipHeader(const Head& head)
{
    return head.has(0, {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00, 0x08, 0x00});
}

QString signatureType(const Head& head)
{
    if (head.has(0, "%PDF"))
        return u"pdf"_s;
    if (head.has(0, {0xC8, 0x00, 0x00, 0x00}))
        return u"caj"_s;
    if (head.has(0, {0x43, 0x41, 0x4A, 0x00})) // "CAJ" and a zero byte: a KDH file
        return u"kdh"_s;
    if (head.has(0, "KDH "))
        return u"kdh"_s;
    if (head.has(0, {0x48, 0x4E, 0x00, 0x00}))
        return u"nh"_s;
    // TIFF in either byte order.
    if (head.has(0, {0x49, 0x49, 0x2A, 0x00}) || head.has(0, {0x4D, 0x4D, 0x00, 0x2A}))
        return u"tif"_s;
    if (head.has(0, "{\\rtf"))
        return u"rtf"_s;
    if (head.has(0, "MZ"))
        return u"exe"_s;
    if (head.has(0, "Rar!"))
        return u"rar"_s;
    if (head.has(0, {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00, 0x08})) {
        const QString kind = officePackageKind(head.bytes());
        return kind.isEmpty() ? u"zip"_s : kind;
    }
    if (hasOfficeWriterZipHeader(head)) {
        // The central directory decides when the head does not tell (DetectFileType).
        const QString kind = officePackageKind(head.bytes());
        return kind.isEmpty() ? u"zip"_s : kind;
    }
    if (head.has(0, {0x43, 0x57, 0x53, 0x06}))
        return u"swf"_s;
    if (head.has(0, ".RMF"))
        return u"rm"_s;
    if (head.has(0, {0x30, 0x26, 0xB2, 0x75, 0x8E}))
        return u"wma"_s;
    // ID3v2 tags of versions 2.2 to 2.4.
    if (head.has(0, {0x49, 0x44, 0x33, 0x02}) || head.has(0, {0x49, 0x44, 0x33, 0x03}) ||
        head.has(0, {0x49, 0x44, 0x33, 0x04}))
        return u"mp3"_s;
    if (head.has(0, {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}))
        return u"png"_s;
    if (head.has(0, "GIF87a") || head.has(0, "GIF89a"))
        return u"gif"_s;
    // Start of image followed by any segment marker: JFIF, Exif in either byte order, bare tables.
    if (head.has(0, {0xFF, 0xD8, 0xFF}) && head.byteAt(3) >= 0xC0 && head.byteAt(3) <= 0xFE)
        return u"jpg"_s;
    if (head.has(0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})) {
        // The first stream sector follows the 512-byte header: a Word or Excel stream announces itself
        // there; PowerPoint's records carry F0 in their type's high byte.
        if (head.has(512, {0xEC, 0xA5, 0xC1, 0x00}))
            return u"doc"_s;
        if (head.has(512, {0x09, 0x08, 0x10, 0x00}))
            return u"xls"_s;
        if (head.byteAt(515) == 0xF0)
            return u"ppt"_s;
    }
    if (head.has(0, {0x1F, 0x8B, 0x08})) // gzip's only compression method
        return u"gz"_s;
    if (head.has(0, {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C}))
        return u"7z"_s;
    return {};
}

// Office files whose first sectors or first ZIP entry the signatures do not cover: the container's
// own directory names the document inside.
QString packageType(QIODevice& device, const Head& head)
{
    if (head.has(0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}))
        return compoundFileType(device);
    if (head.has(0, "PK\x03\x04"))
        return zipPackageType(device);
    return {};
}

bool containsAll(const QByteArray& lowerText, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        if (!lowerText.contains(key))
            return false;
    }
    return true;
}

} // namespace

QString MimeToExtension(const QString& contentType)
{
    const QStringList parts = contentType.split(u'/');
    const QString type = parts.first().trimmed().toLower();
    if (parts.size() != 2)
        return letterFilter(type);
    QString subtype = parts[1].trimmed();
    subtype.remove(u' ');
    subtype = subtype.toLower();

    for (const MimeRow& row : kMimeRows) {
        if (type == QStringView(row.type) && subtype == QStringView(row.subtype)) {
            // The map's own extensions are trusted as written ("mp4" keeps its digit).
            return row.extension ? QString::fromUtf16(row.extension) : letterFilter(subtype);
        }
    }
    if (subtype == u"*"_s)
        return {};
    return letterFilter(subtype);
}

QString 打开文件判断文件类型(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return {};
    QFile file(path);
    // Unbuffered: the reads are few and scattered, and a buffer would read ahead of each one.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return DetectFileType(file);
}

QString DetectFileType(QIODevice& file)
{
    if (!file.isReadable() || file.isSequential() || !file.seek(0))
        return {};
    const qint64 length = file.size();

    const Head head(file.read(kDetectionHeadBytes));
    QString type = signatureType(head);
    if (type.isEmpty() || type == u"zip"_s) {
        const QString package = packageType(file, head);
        if (!package.isEmpty())
            type = package;
        // Office's own header on an archive whose directory does not tell either: Word's, as ever.
        else if (hasOfficeWriterZipHeader(head))
            type = u"docx"_s;
    }

    // Something written before the document by the script that sent it (a byte order mark, blank
    // lines): readers look for the header within the first kilobyte, and so does this, after such
    // bytes only (anything else before it may be a page or an archive that holds or quotes one).
    if (type.isEmpty()) {
        QByteArrayView start =
            QByteArrayView(head.bytes()).first(std::min<qsizetype>(head.bytes().size(), 1024));
        if (start.startsWith("\xEF\xBB\xBF"))
            start = start.sliced(3);
        const qsizetype at = start.indexOf("%PDF-");
        const auto blank = [](char c) {
            return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
        };
        if (at >= 0 && std::all_of(start.begin(), start.begin() + at, blank))
            type = u"pdf"_s;
    }

    if (type.isEmpty() && length > kDetectionTailBytes && file.seek(length - kDetectionTailBytes)) {
        // An ID3v1 tag closes the file.
        if (file.read(kDetectionTailBytes).startsWith("TAG"))
            type = u"mp3"_s;
    }

    // An error page or a landing page instead of the document; a document an office program saved
    // as a web page keeps the type it was given.
    if (type.isEmpty() && !isOfficeWebDocument(head.bytes()) &&
        ((length < kHtmlLimit && hasPageMarkup(head.bytes().toLower())) || startsAsWebPage(head.bytes())))
        type = u"htm"_s;

    if (type.isEmpty() && length < kCaaLimit) {
        // A CAA file is a short text of keys pointing at the real document.
        QByteArray text = head.bytes();
        if (head.bytes().size() < length)
            text = file.seek(0) ? file.read(length) : QByteArray();
        text = text.toLower();
        if (containsAll(text,
                        {"a1=", "[target]", "a2=", "b1=", "b2=", "c1=", "c2=", "d1=", "d2=", "doctype="}))
            type = u"caa"_s;
    }
    return type;
}

} // namespace lintbay
