#include "CountingDevice.h"
#include "download/TypeDetection.h"
#include "util/AnsiCodec.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <initializer_list>

using namespace Qt::StringLiterals;
using namespace lintbay;
using lintbay::test::CountingDevice;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// `head` followed by `fill` up to `size` bytes.
QByteArray padded(QByteArray head, qsizetype size, char fill = 'x')
{
    if (head.size() < size)
        head.append(QByteArray(size - head.size(), fill));
    return head;
}

// A ZIP local file header (version 2.0) with its name and no data.
QByteArray localHeader(int flags, const QByteArray& name)
{
    QByteArray h = bytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, flags & 0xFF, flags >> 8, 0x08, 0x00});
    h += QByteArray(16, '\0'); // time, date, crc, sizes
    h += bytes({int(name.size() & 0xFF), int(name.size() >> 8), 0x00, 0x00});
    return h + name + QByteArray(20, '\x5A');
}

QByteArray compoundDocument(const QByteArray& atSector1, qsizetype size)
{
    QByteArray doc = bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    doc = padded(doc, 512, '\0') + atSector1;
    return size > doc.size() ? padded(doc, size, '\0') : doc.left(size);
}

const QString kData = QStringLiteral(LINTBAY_TEST_DATA);

QByteArray sample(const QString& name)
{
    QFile f(kData + u'/' + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename T> T field(const QByteArray& bytes, qsizetype at)
{
    return at >= 0 && at + qsizetype(sizeof(T)) <= bytes.size() ? qFromLittleEndian<T>(bytes.constData() + at)
                                                                : T(0);
}

// `bytes` with the little-endian field at `at` set to `value`.
template <typename T> QByteArray patched(QByteArray bytes, qsizetype at, T value)
{
    if (at >= 0 && at + qsizetype(sizeof(T)) <= bytes.size())
        qToLittleEndian<T>(value, bytes.data() + at);
    return bytes;
}

// What the detection makes of bytes in memory, and that it read no more than its limit of them.
QString detectCounted(QIODevice& device)
{
    CountingDevice counted(device);
    const QString type = DetectFileType(counted);
    return counted.bytesRead() <= kDetectionReadLimit ? type
                                                      : u"read "_s + QString::number(counted.bytesRead());
}

} // namespace

class TestTypeDetection : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_files = 0;

    QString write(const QByteArray& content)
    {
        const QString path = m_dir.filePath(u"f"_s + QString::number(++m_files));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return {};
        return path;
    }

    void detect(const QByteArray& content, const QString& expected)
    {
        const QString path = write(content);
        QVERIFY(!path.isEmpty());
        QCOMPARE(打开文件判断文件类型(path), expected);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(kData + u"/words.doc"_s), qPrintable(kData));
    }

    // ---- content types ----

    void mimeTable_data()
    {
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("expected");

        struct Row
        {
            const char16_t* type;
            QStringList subtypes;
            const char16_t* expected; // null: the subtype
        };
        const QList<Row> table = {
            {u"application", {u"octet-stream"_s}, u""},
            {u"application", {u"x-shockwave-flash"_s}, u"swf"},
            {u"application", {u"x-javascript"_s}, u"js"},
            {u"application", {u"vnd.rn-realmedia"_s}, u"rm"},
            {u"application", {u"vnd.ms-wpl"_s}, u"wpl"},
            {u"application", {u"kdh"_s}, u"kdh"},
            {u"application", {u"caj"_s}, u"caj"},
            {u"application", {u"pdf"_s}, u"pdf"},
            {u"application", {u"caa"_s}, u"caa"},
            {u"application", {u"nh"_s}, u"nh"},
            {u"application", {u"vnd.ms-works"_s}, u"wps"},
            {u"application", {u"ppt"_s, u"vnd.ms-powerpoint"_s}, u"ppt"},
            {u"application", {u"doc"_s, u"msword"_s}, u"doc"},
            {u"application",
             {u"docx"_s, u"vnd.openxmlformats-officedocument.wordprocessingml.document"_s},
             u"docx"},
            {u"application", {u"rtf"_s}, u"rtf"},
            {u"application", {u"xls"_s, u"vnd.ms-excel"_s, u"x-excel"_s}, u"xls"},
            {u"application",
             {u"xlsx"_s, u"vnd.openxmlformats-officedocument.spreadsheetml.sheet"_s},
             u"xlsx"},
            {u"application",
             {u"pptx"_s, u"vnd.openxmlformats-officedocument.presentationml.presentation"_s},
             u"pptx"},
            {u"application", {u"pps"_s}, u"pps"},
            {u"application",
             {u"ppsx"_s, u"vnd.openxmlformats-officedocument.presentationml.slideshow"_s},
             u"ppsx"},
            {u"application", {u"dll"_s, u"x-msdownload"_s}, u"dll"},
            {u"application", {u"tar"_s, u"x-tar"_s}, u"tar"},
            {u"application", {u"tgz"_s, u"x-compressed"_s}, u"tgz"},
            {u"application", {u"zip"_s, u"x-zip-compressed"_s}, u"zip"},
            {u"application", {u"z"_s, u"x-compress"_s}, u"z"},
            {u"text", {u"html"_s, u"txt"_s, u"htm"_s, u"xml"_s, u"css"_s}, nullptr},
            {u"text", {u"plain"_s}, u"txt"},
            {u"image",
             {u"jpg"_s, u"jpeg"_s, u"gif"_s, u"png"_s, u"bmp"_s, u"tif"_s, u"pjpeg"_s, u"ief"_s},
             nullptr},
            {u"image", {u"tiff"_s}, u"tif"},
            {u"image", {u"x-png"_s}, u"png"},
            {u"image", {u"x-ms-bmp"_s}, u"bmp"},
            {u"image", {u"x-icon"_s}, u"ico"},
            {u"video", {u"mpeg"_s}, u"mpeg"},
            {u"video", {u"mpeg4"_s}, u"mp4"},
            {u"video", {u"x-msvideo"_s}, u"avi"},
            {u"video", {u"x-ms-asf"_s}, u"asf"},
            {u"video", {u"x-ms-wmv"_s}, u"wmv"},
            {u"video", {u"quicktime"_s}, u"mov"},
            {u"audio", {u"amr"_s}, u"amr"},
            {u"audio", {u"x-ms-wma"_s}, u"wma"},
            {u"audio", {u"x-wav"_s}, u"wav"},
            {u"audio", {u"x-pn-realaudio"_s}, u"ram"},
            {u"audio", {u"midi"_s}, u"mid"},
            {u"audio", {u"x-mpegurl"_s}, u"mpeg"},
            {u"message", {u"rfc822"_s}, u"mht"},
            // Registered in mixed case; a macro-enabled file renamed to the plain type stops opening.
            {u"application", {u"vnd.ms-word.document.macroEnabled.12"_s}, u"docm"},
            {u"application", {u"vnd.ms-excel.sheet.macroEnabled.12"_s}, u"xlsm"},
            {u"application", {u"vnd.ms-powerpoint.presentation.macroEnabled.12"_s}, u"pptm"},
        };
        for (const Row& row : table) {
            for (const QString& subtype : row.subtypes) {
                const QString type = QString::fromUtf16(row.type) + u'/' + subtype;
                QTest::newRow(qPrintable(type))
                    << type << (row.expected ? QString::fromUtf16(row.expected) : subtype);
            }
        }
    }
    void mimeTable()
    {
        QFETCH(QString, contentType);
        QFETCH(QString, expected);
        QCOMPARE(MimeToExtension(contentType), expected);
    }

    void mimeOddInput_data()
    {
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("expected");

        QTest::newRow("case and spaces") << u" Application / MS Word "_s << u"doc"_s;
        QTest::newRow("subtype cut at its first non-letter") << u"image/g3fax"_s << u"g"_s;
        QTest::newRow("unknown subtype of a known type") << u"application/vnd.foo"_s << u"vnd"_s;
        QTest::newRow("unknown subtype too long") << u"text/javascript"_s << QString();
        QTest::newRow("unknown type") << u"chemical/x-pdb"_s << u"x"_s;
        QTest::newRow("unknown type, letters") << u"model/vrml"_s << u"vrml"_s;
        QTest::newRow("wildcard") << u"text/*"_s << QString();
        QTest::newRow("wildcard of an unknown type") << u"foo/*"_s << QString();
        QTest::newRow("empty subtype") << u"application/"_s << QString();
        QTest::newRow("no slash") << u"text"_s << u"text"_s;
        QTest::newRow("two slashes") << u"a/b/c"_s << u"a"_s;
        QTest::newRow("two slashes, long type") << u"application/x/y"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("path in the subtype") << u"text/../../etc"_s << u"text"_s;
        QTest::newRow("digits first") << u"image/3ds"_s << QString();
    }
    void mimeOddInput()
    {
        QFETCH(QString, contentType);
        QFETCH(QString, expected);
        QCOMPARE(MimeToExtension(contentType), expected);
    }

    // ---- signatures: one file per row of the table ----

    void signatures_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        QTest::newRow("pdf") << padded("%PDF-1.5\n", 64) << u"pdf"_s;
        QTest::newRow("pdf after a byte order mark") << padded("\xEF\xBB\xBF%PDF-1.5\n", 64) << u"pdf"_s;
        QTest::newRow("pdf after a byte order mark and blank lines")
            << padded("\xEF\xBB\xBF\r\n\r\n%PDF-1.5\n", 64) << u"pdf"_s;
        QTest::newRow("text quoting a pdf header")
            << padded("Notes on the format: a file starts with %PDF-1.4\n", 64) << QString();
        QTest::newRow("page quoting a pdf header")
            << QByteArray("<html><head><title>x</title></head><body>%PDF-1.4</body></html>") << u"htm"_s;
        QTest::newRow("caj") << padded(bytes({0xC8, 0, 0, 0}), 64) << u"caj"_s;
        QTest::newRow("caj header is kdh") << padded(bytes({0x43, 0x41, 0x4A, 0}), 64) << u"kdh"_s;
        QTest::newRow("kdh") << padded("KDH 1.0", 64) << u"kdh"_s;
        QTest::newRow("nh") << padded(bytes({0x48, 0x4E, 0, 0}), 64) << u"nh"_s;
        QTest::newRow("tif, intel order") << padded(bytes({0x49, 0x49, 0x2A, 0}), 64) << u"tif"_s;
        QTest::newRow("tif, motorola order") << padded(bytes({0x4D, 0x4D, 0, 0x2A}), 64) << u"tif"_s;
        QTest::newRow("rtf") << padded("{\\rtf1\\ansi", 64) << u"rtf"_s;
        QTest::newRow("exe") << padded("MZ\x90", 64) << u"exe"_s;
        QTest::newRow("rar") << padded("Rar!\x1A\x07", 64) << u"rar"_s;
        QTest::newRow("zip") << localHeader(0, "a.txt") << u"zip"_s;
        QTest::newRow("docx") << localHeader(6, "[Content_Types].xml") << u"docx"_s;
        QTest::newRow("docx with its entries")
            << localHeader(6, "[Content_Types].xml") + localHeader(6, "word/document.xml") << u"docx"_s;
        QTest::newRow("xlsx under the docx header")
            << localHeader(6, "[Content_Types].xml") + localHeader(6, "xl/workbook.xml") << u"xlsx"_s;
        QTest::newRow("pptx under the docx header")
            << localHeader(6, "[Content_Types].xml") + localHeader(6, "ppt/presentation.xml") << u"pptx"_s;
        QTest::newRow("docx under the zip header")
            << localHeader(0, "[Content_Types].xml") + localHeader(0, "word/document.xml") << u"docx"_s;
        QTest::newRow("zip whose data mentions office folders")
            << localHeader(0, "a.txt") + "xl/workbook.xml word/document.xml" << u"zip"_s;
        QTest::newRow("zip with a cut second header")
            << localHeader(0, "a.txt") + "PK\x03\x04\x14" << u"zip"_s;
        QTest::newRow("swf") << padded("CWS\x06", 64) << u"swf"_s;
        QTest::newRow("rm") << padded(".RMF", 64) << u"rm"_s;
        QTest::newRow("wma") << padded(bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11}), 64)
                             << u"wma"_s;
        QTest::newRow("mp3, id3v2.3") << padded("ID3\x03", 64) << u"mp3"_s;
        QTest::newRow("mp3, id3v2.4") << padded("ID3\x04", 64) << u"mp3"_s;
        QTest::newRow("mp3, id3v2.2") << padded("ID3\x02", 64) << u"mp3"_s;
        QTest::newRow("id3 of an unknown version") << padded("ID3\x09", 64) << QString();
        QTest::newRow("png") << padded(bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}), 64)
                             << u"png"_s;
        QTest::newRow("gif89a") << padded("GIF89a", 64) << u"gif"_s;
        QTest::newRow("gif87a") << padded("GIF87a", 64) << u"gif"_s;
        QTest::newRow("no gif") << padded("GIF891\x04", 64) << QString();
        QTest::newRow("jpg, exif motorola") << padded(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x12, 0x34}) + "Exif" +
                                                          bytes({0, 0, 0x4D, 0x4D, 0, 0x2A}),
                                                      64)
                                            << u"jpg"_s;
        QTest::newRow("jpg, exif intel") << padded(bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x12, 0x34}) + "Exif" +
                                                       bytes({0, 0, 0x49, 0x49, 0x2A, 0}),
                                                   64)
                                         << u"jpg"_s;
        QTest::newRow("jpg, jfif") << padded(bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}) + "JFIF", 64)
                                   << u"jpg"_s;
        QTest::newRow("jpg, tables first")
            << padded(bytes({0xFF, 0xD8, 0xFF, 0xDB, 0, 0x43}), 64) << u"jpg"_s;
        QTest::newRow("no jpg marker") << padded(bytes({0xFF, 0xD8, 0xFF, 0xFF}), 64) << QString();
        QTest::newRow("doc") << compoundDocument(bytes({0xEC, 0xA5, 0xC1, 0x00}), 1024) << u"doc"_s;
        QTest::newRow("xls") << compoundDocument(bytes({0x09, 0x08, 0x10, 0x00}), 1024) << u"xls"_s;
        QTest::newRow("ppt") << compoundDocument(bytes({0x0F, 0x00, 0xE8, 0xF0}), 1024) << u"ppt"_s;
        QTest::newRow("other compound document") << compoundDocument(bytes({1, 2, 3, 4}), 1024) << QString();
        QTest::newRow("plain text") << padded("hello", 64) << QString();
    }
    void signatures()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        detect(content, expected);
    }

    // Files that end before a signature does: nothing past the end counts, not even as a zero.
    void shortFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("one byte") << QByteArray("M") << QString();
        QTest::newRow("pdf, exactly the signature") << QByteArray("%PDF") << u"pdf"_s;
        QTest::newRow("pdf cut") << QByteArray("%PD") << QString();
        QTest::newRow("caj without its zero byte") << QByteArray("CAJ") << QString();
        QTest::newRow("caj cut") << bytes({0xC8, 0, 0}) << QString();
        QTest::newRow("nh cut") << bytes({0x48, 0x4E, 0}) << QString();
        QTest::newRow("exe, two bytes") << QByteArray("MZ") << u"exe"_s;
        QTest::newRow("exe, short") << bytes({0x4D, 0x5A, 0x90, 0x00, 0x03}) << u"exe"_s;
        QTest::newRow("gif cut") << QByteArray("GIF89") << QString();
        QTest::newRow("png cut") << bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A}) << QString();
        QTest::newRow("jpg cut") << bytes({0xFF, 0xD8, 0xFF}) << QString();
        QTest::newRow("docx header cut")
            << bytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x06, 0x00, 0x08}) << QString();
        QTest::newRow("compound header only") << compoundDocument({}, 8) << QString();
        QTest::newRow("compound, 512 bytes") << compoundDocument({}, 512) << QString();
        QTest::newRow("doc cut before its zero byte")
            << compoundDocument(bytes({0xEC, 0xA5, 0xC1, 0x00}), 515) << QString();
        QTest::newRow("doc, just long enough")
            << compoundDocument(bytes({0xEC, 0xA5, 0xC1, 0x00}), 516) << u"doc"_s;
        QTest::newRow("ppt, just long enough") << compoundDocument(bytes({0, 0, 0, 0xF0}), 516) << u"ppt"_s;
        QTest::newRow("html after a short miss") << QByteArray("<html><title>") << u"htm"_s;
    }
    void shortFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        detect(content, expected);
    }

    void missingOrNoFile()
    {
        QCOMPARE(打开文件判断文件类型(m_dir.filePath(u"nothing-here.pdf"_s)), QString());
        QCOMPARE(打开文件判断文件类型(m_dir.path()), QString());
        QCOMPARE(打开文件判断文件类型(QString()), QString());
    }

    // ---- the ID3v1 tag at the end ----

    void mp3Tail_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        const QByteArray tag = padded("TAG", 128, ' ');
        QTest::newRow("129 bytes") << "x" + tag << u"mp3"_s;
        QTest::newRow("128 bytes, the tag alone") << tag << QString();
        QTest::newRow("tag one byte off the end") << "xx" + tag.left(127) << QString();
        QTest::newRow("tag beyond the head") << QByteArray(40000, 'x') + tag << u"mp3"_s;
        QTest::newRow("signature first") << padded("%PDF-1.4", 2000) + tag << u"pdf"_s;
        QTest::newRow("tag at the start only") << padded("TAG", 300) << QString();
    }
    void mp3Tail()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        detect(content, expected);
    }

    // A file far beyond any buffer: only its head and tail are read, at a 64-bit offset.
    void hugeFile()
    {
        const QString path = m_dir.filePath(u"huge"_s);
        const qint64 size = 3LL * 1024 * 1024 * 1024 + 7;
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (!f.resize(size))
                QSKIP("no sparse file of 3 GB here");
            QVERIFY(f.seek(size - 128));
            QVERIFY(f.write("TAG") == 3);
        }
        QCOMPARE(打开文件判断文件类型(path), u"mp3"_s);
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.write("%PDF") == 4);
        }
        QCOMPARE(打开文件判断文件类型(path), u"pdf"_s);
        QFile::remove(path);
    }

    // ---- text tests ----

    void htmlPages_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        const QByteArray page = "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
                                "<body><h1>Not Found</h1></body></html>\n";
        QTest::newRow("error page of 5 KB") << padded(page, 5 * 1024, ' ') << u"htm"_s;
        // A page that opens with its markup is one at any size.
        QTest::newRow("page of 250 KB") << padded(page, 250 * 1024, ' ') << u"htm"_s;
        QTest::newRow("page of 250 KB after a BOM and blank lines")
            << padded("\xEF\xBB\xBF\r\n\r\n  " + page, 250 * 1024, ' ') << u"htm"_s;
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        QTest::newRow("utf-16 page of 250 KB")
            << QByteArray(utf16(QString::fromLatin1(page).leftJustified(125 * 1024, u' '))) << u"htm"_s;
        QTest::newRow("page markup after the first 8 KB of a large file")
            << padded("<!-- " + QByteArray(9 * 1024, '-') + " -->" + page, 250 * 1024, ' ') << QString();
        // Text that quotes a page is one only while small.
        const QByteArray quote = "Saved copy:\n" + page;
        QTest::newRow("text quoting a page, just under 200 KB")
            << padded(quote, 200 * 1024 - 1, ' ') << u"htm"_s;
        QTest::newRow("text quoting a page, 200 KB") << padded(quote, 200 * 1024, ' ') << QString();
        QTest::newRow("capitals and attributes")
            << QByteArray("<HTML LANG=\"zh\">\n<BODY>x</BODY>") << u"htm"_s;
        QTest::newRow("closing tag and head") << QByteArray("<head></head>text</html>") << u"htm"_s;
        QTest::newRow("html without its parts") << QByteArray("<html>hello</html>") << QString();
        QTest::newRow("parts without html") << QByteArray("<title>x</title><body>y</body>") << QString();
        QTest::newRow("tag name continues") << QByteArray("<htmlx><title>x</title>") << QString();
        QTest::newRow("markup beyond the first 10 KB") << QByteArray(11 * 1024, ' ') + page << QString();
        QTest::newRow("spreadsheet an office program saved as a web page")
            << QByteArray("<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"\r\n"
                          "xmlns:x=\"urn:schemas-microsoft-com:office:excel\">\r\n<head>\r\n"
                          "<meta name=ProgId content=Excel.Sheet>\r\n</head>\r\n<body><table><tr><td>1</td>"
                          "</tr></table></body>\r\n</html>")
            << QString();
        QTest::newRow("page with text pasted from an office program")
            << QByteArray(
                   "<html><head><title>t</title></head><body>\r\n<p xmlns:o=\"urn:schemas-microsoft-com:"
                   "office:office\">pasted</p></body></html>")
            << u"htm"_s;
        QTest::newRow("gbk page") << toAnsiBytes(u"<html><head><title>中文页面</title></head></html>")
                                  << u"htm"_s;
        QTest::newRow("utf-8 page") << u"<html lang=zh><body>中文</body></html>"_s.toUtf8() << u"htm"_s;
    }
    void htmlPages()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        detect(content, expected);
    }

    void caaFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");

        const QByteArray caa = "[TARGET]\r\nA1=http://a/1\r\nA2=x\r\nB1=1\r\nB2=2\r\nC1=3\r\nC2=4\r\nD1=5\r\n"
                               "D2=6\r\nDOCTYPE=pdf\r\n";
        QTest::newRow("all keys, 1 KB") << padded(caa, 1024, ' ') << u"caa"_s;
        QTest::newRow("keys in lower case") << caa.toLower() << u"caa"_s;
        QTest::newRow("one key missing") << QByteArray(caa).replace("D2=", "D3=") << QString();
        QTest::newRow("just under 3 KB") << padded(caa, 3 * 1024 - 1, ' ') << u"caa"_s;
        QTest::newRow("3 KB") << padded(caa, 3 * 1024, ' ') << QString();
        QTest::newRow("keys at the end") << QByteArray(2500, ' ') + caa << u"caa"_s;
    }
    void caaFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        detect(content, expected);
    }

    // ---- files made by real programs (tests/data/README.md) ----

    // Each sample's extension is the type its content shows. Office files written by other suites
    // keep their main stream or first ZIP entry where the signatures do not look.
    void realFiles_data()
    {
        QTest::addColumn<QString>("path");
        for (const QFileInfo& file : QDir(kData).entryInfoList(QDir::Files, QDir::Name)) {
            if (file.suffix() != u"md"_s)
                QTest::newRow(qPrintable(file.fileName())) << file.filePath();
        }
    }
    void realFiles()
    {
        QFETCH(QString, path);
        QCOMPARE(打开文件判断文件类型(path), QFileInfo(path).suffix());
    }

    // Containers whose offsets, sizes and chains lie: no answer, and no more read than the limit.
    void malformedContainers_data()
    {
        QTest::addColumn<QByteArray>("content");

        const QByteArray doc = sample(u"words.doc"_s);
        const quint32 firstDirectorySector = field<quint32>(doc, 0x30);
        const qsizetype directory = (firstDirectorySector + 1) * 512;
        const qsizetype fatEntry = (field<quint32>(doc, 0x4C) + 1) * 512 + firstDirectorySector * 4;
        QTest::newRow("compound cut before its directory") << doc.left(directory);
        QTest::newRow("directory chain loops") << patched<quint32>(doc, fatEntry, firstDirectorySector);
        QTest::newRow("directory chain leaves the file") << patched<quint32>(doc, fatEntry, 0x7FFFFFF0);
        QTest::newRow("directory beyond the end") << patched<quint32>(doc, 0x30, 0x7FFFFFF0);
        QTest::newRow("sectors of 2^30 bytes") << patched<quint16>(doc, 0x1E, 30);
        QTest::newRow("no FAT") << patched<quint32>(doc, 0x2C, 0);
        QTest::newRow("root entry is no root") << patched<quint8>(doc, directory + 0x42, 1);
        QTest::newRow("root's child outside the directory")
            << patched<quint32>(doc, directory + 0x4C, 0xFFFFF);

        const QByteArray docx = sample(u"words.docx"_s);
        const qsizetype end = docx.lastIndexOf("PK\x05\x06");
        const qsizetype central = field<quint32>(docx, end + 16);
        QTest::newRow("zip cut in its end record") << docx.left(docx.size() - 10);
        QTest::newRow("central directory beyond the end")
            << patched<quint32>(docx, end + 16, docx.size() + 100);
        QTest::newRow("central directory of 4 GB") << patched<quint32>(docx, end + 12, 0xFFFFFFF0);
        QTest::newRow("comment longer than the file") << patched<quint16>(docx, end + 20, 0xFFFF);
        QTest::newRow("first name runs past the directory") << patched<quint16>(docx, central + 28, 0xFFFF);
        QTest::newRow("zip64 without its locator") << patched<quint32>(docx, end + 16, 0xFFFFFFFF);
        QByteArray locator("PK\x06\x07\0\0\0\0", 8);
        locator += patched<quint64>(QByteArray(8, '\0'), 0, 0x7FFFFFFFFFFF) + QByteArray("\x01\0\0\0", 4);
        QTest::newRow("zip64 record beyond the end")
            << docx.left(end) + locator + patched<quint32>(docx.mid(end), 16, 0xFFFFFFFF);

        const QByteArray odt = sample(u"words.odt"_s);
        const qsizetype mimetype = field<quint32>(odt, odt.lastIndexOf("PK\x05\x06") + 16);
        QTest::newRow("mimetype of 4 GB") << patched<quint32>(odt, mimetype + 20, 0xFFFFFFFF);
        QTest::newRow("mimetype's header beyond the end") << patched<quint32>(odt, mimetype + 42, 0x7FFFFFFF);
        QTest::newRow("mimetype compressed") << patched<quint16>(odt, mimetype + 10, 8);
    }
    void malformedContainers()
    {
        QFETCH(QByteArray, content);
        QBuffer buffer(&content);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(detectCounted(buffer), QString());
    }

    // Containers of 3 GB (sparse files) whose directories are all zeros: the DIFAT and sector
    // chains loop, the central directory claims the whole file. The limit holds all the same.
    void hugeContainers_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("tail");

        const qint64 size = 3LL * 1024 * 1024 * 1024;
        QByteArray compound = padded(bytes({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}), 512, '\0');
        compound = patched<quint16>(compound, 0x1C, 0xFFFE);
        compound = patched<quint16>(compound, 0x1E, 9);
        compound = patched<quint32>(compound, 0x2C, quint32(size / 512 / 128)); // FAT sectors
        compound = patched<quint32>(compound, 0x30, quint32(size / 512 - 2));   // the last sector
        compound = patched<quint32>(compound, 0x48, 0xFFFFFFFF);                // DIFAT sectors
        QTest::newRow("compound, directory in the last sector") << compound << QByteArray();

        QByteArray end = patched<quint32>(padded("PK\x05\x06", 22, '\0'), 12, quint32(size - 22));
        QTest::newRow("zip, central directory of 3 GB") << localHeader(0x808, "a") << end;
    }
    void hugeContainers()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, tail);
        const QString path = m_dir.filePath(u"huge-container"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (!f.resize(3LL * 1024 * 1024 * 1024))
            QSKIP("no sparse file of 3 GB here");
        QVERIFY(f.write(head) == head.size());
        QVERIFY(f.seek(f.size() - tail.size()) && f.write(tail) == tail.size());
        f.close();
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        QCOMPARE(detectCounted(f), QString());
        f.remove();
    }
};

QTEST_GUILESS_MAIN(TestTypeDetection)
#include "tst_typedetection.moc"
