#pragma once

#include <QString>

namespace lintbay {

// The extension a response's content type implies, lower case and without the dot: a run of 1 to 5
// letters, or empty when the type says nothing useful ("application/octet-stream", "*", unknown
// long subtypes). The input is the type without its parameters ("text/html", not "...; charset=").
QString MimeToExtension(const QString& contentType);

// The extension a file's content shows (lower case, without the dot), or empty when the content is
// not recognised or the file cannot be read. Looks at signature bytes of the first 10 KB, an MP3 tag
// in the last 128 bytes, an HTML page's markup (files under 200 KB) and the keys of a CAA text file
// (files under 3 KB). Reads no more than that, whatever the file's size.
QString 打开文件判断文件类型(const QString& path);

} // namespace lintbay
