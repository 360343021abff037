#include "FakeFiles.h"

#include "util/AnsiCodec.h"

#include <QRegularExpression>
#include <QtEndian>

#include <array>

using namespace Qt::StringLiterals;

namespace lintbay::fakeweb {

namespace {

quint32 nameHash(const QString& name)
{
    quint32 h = 2166136261u;
    for (char c : name.toUtf8()) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return h;
}

void putLE16(QByteArray& out, qsizetype at, quint16 v)
{
    qToLittleEndian(v, out.data() + at);
}

void putLE32(QByteArray& out, qsizetype at, quint32 v)
{
    qToLittleEndian(v, out.data() + at);
}

void appendLE16(QByteArray& out, quint16 v)
{
    out.resize(out.size() + 2);
    putLE16(out, out.size() - 2, v);
}

void appendLE32(QByteArray& out, quint32 v)
{
    out.resize(out.size() + 4);
    putLE32(out, out.size() - 4, v);
}

// Filler text so that files have the sizes real documents have, different per file.
QByteArray fillerLine(const QString& name, int line)
{
    return "Line " + QByteArray::number(line) + " of test document " + name.toLatin1() +
           ": the quick brown fox jumps over the lazy dog.";
}

// ---- PDF ----------------------------------------------------------------------------------------

QByteArray pdfBody(const QString& name)
{
    const int lines = 20 + int(nameHash(name) % 600);
    QByteArray content = "BT /F1 10 Tf 50 800 Td 12 TL (Test document " + name.toLatin1() + ") Tj\n";
    for (int i = 1; i <= lines; ++i)
        content += "T* (" + fillerLine(name, i) + ") Tj\n";
    content += "ET\n";

    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// ---- compound documents (doc, xls, ppt) ---------------------------------------------------------

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFatSector = 0xFFFFFFFD;
constexpr quint32 kFreeSector = 0xFFFFFFFF;
constexpr quint32 kNoStream = 0xFFFFFFFF;
constexpr int kSector = 512;

QByteArray directoryEntry(const QString& entryName, quint8 type, quint32 child, quint32 start, quint32 size)
{
    QByteArray e(128, '\0');
    for (qsizetype i = 0; i < entryName.size(); ++i)
        putLE16(e, i * 2, entryName.at(i).unicode());
    putLE16(e, 64, quint16((entryName.size() + 1) * 2));
    e[66] = char(type);
    e[67] = 1; // black
    putLE32(e, 68, kNoStream);
    putLE32(e, 72, kNoStream);
    putLE32(e, 76, child);
    putLE32(e, 116, start);
    putLE32(e, 120, size);
    return e;
}

// A compound file with one stream in regular sectors: header, the stream, one FAT sector, one
// directory sector. The stream's first bytes are what tells Word, Excel and PowerPoint files apart.
QByteArray compoundDocument(const QString& name, const QString& streamName, const QByteArray& streamHead)
{
    const int streamSectors = 8 + int(nameHash(name) % 100); // at least the 4096-byte mini-stream cutoff
    QByteArray stream = streamHead;
    for (int line = 1; stream.size() < streamSectors * kSector; ++line)
        stream += fillerLine(name, line) + '\r';
    stream.truncate(streamSectors * kSector);

    const quint32 fatSector = quint32(streamSectors);
    const quint32 dirSector = fatSector + 1;

    QByteArray header(kSector, '\0');
    const QByteArray signature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    header.replace(0, 8, signature);
    putLE16(header, 24, 0x003E); // minor version
    putLE16(header, 26, 0x0003); // major version: 512-byte sectors
    putLE16(header, 28, 0xFFFE); // little-endian
    putLE16(header, 30, 9);      // sector shift
    putLE16(header, 32, 6);      // mini sector shift
    putLE32(header, 44, 1);      // FAT sectors
    putLE32(header, 48, dirSector);
    putLE32(header, 56, 4096); // mini stream cutoff
    putLE32(header, 60, kEndOfChain);
    putLE32(header, 68, kEndOfChain);
    putLE32(header, 76, fatSector);
    for (int i = 1; i < 109; ++i)
        putLE32(header, 76 + i * 4, kFreeSector);

    QByteArray fat(kSector, '\0');
    for (quint32 i = 0; i < 128; ++i) {
        quint32 next = kFreeSector;
        if (i + 1 < fatSector)
            next = i + 1;
        else if (i + 1 == fatSector)
            next = kEndOfChain;
        else if (i == fatSector)
            next = kFatSector;
        else if (i == dirSector)
            next = kEndOfChain;
        putLE32(fat, i * 4, next);
    }

    QByteArray dir = directoryEntry(u"Root Entry"_s, 5, 1, kEndOfChain, 0);
    dir += directoryEntry(streamName, 2, kNoStream, 0, quint32(stream.size()));
    while (dir.size() < kSector)
        dir += directoryEntry(QString(), 0, kNoStream, 0, 0);

    return header + stream + fat + dir;
}

QByteArray docBody(const QString& name)
{
    // The Word file information block starts with wIdent 0xA5EC and nFib 0x00C1.
    return compoundDocument(name, u"WordDocument"_s, QByteArray("\xEC\xA5\xC1\x00", 4));
}

QByteArray xlsBody(const QString& name)
{
    // A BIFF8 workbook starts with its BOF record (type 0x0809, 16 bytes of data).
    return compoundDocument(name, u"Workbook"_s,
                            QByteArray("\x09\x08\x10\x00\x00\x06\x05\x00\x54\x38\xCD\x07\xC1\x00\x01\x00"
                                       "\x06\x04\x00\x00",
                                       20));
}

QByteArray pptBody(const QString& name)
{
    // Presentations usually store their pictures first; a picture record's type ends in 0xF0.
    return compoundDocument(name, u"Pictures"_s, QByteArray("\xA0\x46\x1D\xF0", 4));
}

// ---- RTF ----------------------------------------------------------------------------------------

QByteArray rtfEscaped(const QString& text)
{
    QByteArray out;
    for (char c : toAnsiBytes(text)) {
        const quint8 b = quint8(c);
        if (b < 0x80)
            out += c;
        else
            out += "\\'" + QByteArray::number(b, 16).rightJustified(2, '0');
    }
    return out;
}

QByteArray rtfBody(const QString& name)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fcharset134 " +
                     rtfEscaped(u"宋体"_s) + ";}}\r\n\\viewkind4\\uc1\\pard\\f0\\fs24 " +
                     rtfEscaped(u"测试文档"_s) + ' ' + name.toLatin1() + "\\par\r\n";
    const int lines = 20 + int(nameHash(name) % 400);
    for (int i = 1; i <= lines; ++i)
        rtf += fillerLine(name, i) + "\\par\r\n";
    rtf += "}\r\n";
    return rtf;
}

// ---- DOCX ---------------------------------------------------------------------------------------

quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data)
        crc = table[(crc ^ quint8(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// Raw deflate data: qCompress gives a 4-byte length, a 2-byte zlib header, the deflate stream and
// a 4-byte checksum.
QByteArray rawDeflate(const QByteArray& data)
{
    const QByteArray z = qCompress(data, 6);
    return z.mid(6, z.size() - 10);
}

// A ZIP package written the way Word writes it: deflated members whose local headers carry
// version 20 and flags 6.
QByteArray zipPackage(const QList<std::pair<QByteArray, QByteArray>>& members)
{
    constexpr quint16 kVersion = 20;
    constexpr quint16 kFlags = 6;
    constexpr quint16 kDeflate = 8;
    constexpr quint16 kTime = 0x6000; // 12:00:00
    constexpr quint16 kDate = 0x4F21; // 2019-09-01
    QByteArray out;
    QByteArray central;
    for (const auto& [memberName, data] : members) {
        const QByteArray packed = rawDeflate(data);
        const quint32 crc = crc32(data);
        const quint32 offset = quint32(out.size());
        out += QByteArray("PK\x03\x04", 4);
        appendLE16(out, kVersion);
        appendLE16(out, kFlags);
        appendLE16(out, kDeflate);
        appendLE16(out, kTime);
        appendLE16(out, kDate);
        appendLE32(out, crc);
        appendLE32(out, quint32(packed.size()));
        appendLE32(out, quint32(data.size()));
        appendLE16(out, quint16(memberName.size()));
        appendLE16(out, 0);
        out += memberName + packed;

        central += QByteArray("PK\x01\x02", 4);
        appendLE16(central, kVersion);
        appendLE16(central, kVersion);
        appendLE16(central, kFlags);
        appendLE16(central, kDeflate);
        appendLE16(central, kTime);
        appendLE16(central, kDate);
        appendLE32(central, crc);
        appendLE32(central, quint32(packed.size()));
        appendLE32(central, quint32(data.size()));
        appendLE16(central, quint16(memberName.size()));
        appendLE16(central, 0); // extra
        appendLE16(central, 0); // comment
        appendLE16(central, 0); // disk
        appendLE16(central, 0); // internal attributes
        appendLE32(central, 0); // external attributes
        appendLE32(central, offset);
        central += memberName;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    out += QByteArray("PK\x05\x06", 4);
    appendLE16(out, 0);
    appendLE16(out, 0);
    appendLE16(out, quint16(members.size()));
    appendLE16(out, quint16(members.size()));
    appendLE32(out, quint32(central.size()));
    appendLE32(out, centralOffset);
    appendLE16(out, 0);
    return out;
}

QByteArray docxBody(const QString& name)
{
    const QByteArray types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "</Types>";
    const QByteArray rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    QByteArray document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
        "<w:body><w:p><w:r><w:t>" +
        u"测试文档 "_s.toUtf8() + name.toLatin1() + "</w:t></w:r></w:p>";
    const int lines = 20 + int(nameHash(name) % 400);
    for (int i = 1; i <= lines; ++i)
        document += "<w:p><w:r><w:t>" + fillerLine(name, i) + "</w:t></w:r></w:p>";
    document += "</w:body></w:document>";
    return zipPackage(
        {{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"word/document.xml", document}});
}

// ---- web pages ----------------------------------------------------------------------------------

// What a sharing site shows instead of the document when it wants a login first.
QByteArray webPageBody(const QString& name)
{
    return (u"<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
            "<title>文档预览 - 资料分享平台</title></head>\n<body><div class=\"header\">资料分享平台</div>"
            "<h1>文档预览</h1><p>文档编号："_s +
            name + u"</p><p>该文档需要登录后才能下载。<a href=\"/\">返回首页</a></p></body></html>\n"_s)
        .toUtf8();
}

} // namespace

QByteArray contentTypeFor(const QString& ext)
{
    static const std::pair<QString, QByteArray> types[] = {
        {u"pdf"_s, "application/pdf"},
        {u"doc"_s, "application/msword"},
        {u"docx"_s, "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {u"xls"_s, "application/vnd.ms-excel"},
        {u"ppt"_s, "application/vnd.ms-powerpoint"},
        {u"rtf"_s, "application/rtf"},
        {u"html"_s, "text/html; charset=utf-8"},
    };
    for (const auto& [e, type] : types) {
        if (e == ext)
            return type;
    }
    return "application/octet-stream";
}

std::optional<FakeFile> fakeFileAt(const QString& path)
{
    static const QRegularExpression files(u"^/files/([A-Za-z0-9_-]{1,64})\\.(pdf|doc|docx|xls|ppt|rtf)$"_s);
    static const QRegularExpression pages(u"^/pages/([A-Za-z0-9_-]{1,64})\\.html$"_s);
    if (const QRegularExpressionMatch m = pages.match(path); m.hasMatch())
        return FakeFile{webPageBody(m.captured(1)), contentTypeFor(u"html"_s)};
    const QRegularExpressionMatch m = files.match(path);
    if (!m.hasMatch())
        return std::nullopt;
    const QString name = m.captured(1);
    const QString ext = m.captured(2);
    QByteArray body;
    if (ext == u"pdf"_s)
        body = pdfBody(name);
    else if (ext == u"doc"_s)
        body = docBody(name);
    else if (ext == u"docx"_s)
        body = docxBody(name);
    else if (ext == u"xls"_s)
        body = xlsBody(name);
    else if (ext == u"ppt"_s)
        body = pptBody(name);
    else
        body = rtfBody(name);
    return FakeFile{body, contentTypeFor(ext)};
}

} // namespace lintbay::fakeweb
