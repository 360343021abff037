#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace lintbay::fakeweb {

// A file the local engine serves behind its redirects.
struct FakeFile
{
    QByteArray body;
    QByteArray contentType;
};

// The file at "/files/<name>.<ext>" (ext: pdf, doc, docx, xls, ppt, rtf) or "/pages/<name>.html".
// The bytes depend only on the name and extension and start the way real files of the type do:
// "%PDF-" for PDF, a compound document (D0 CF 11 E0 …) whose first stream starts with the Word,
// Excel or PowerPoint mark for doc/xls/ppt, a ZIP package with the local header Word writes for docx,
// "{\rtf1" for RTF, and an HTML page with a title for the web pages. Sizes range from about 2 KB to
// about 60 KB. Names are letters, digits, "_" and "-"; anything else gives nothing.
std::optional<FakeFile> fakeFileAt(const QString& path);

// The content type the server announces for an extension ("pdf" → "application/pdf", …).
QByteArray contentTypeFor(const QString& ext);

} // namespace lintbay::fakeweb
