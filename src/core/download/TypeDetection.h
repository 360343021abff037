#pragma once

#include "PackageType.h"

#include <QString>

#include <algorithm>

class QIODevice;

namespace lintbay {

// The extension a response's content type implies, lower case and without the dot: a run of 1 to 5
// letters, or empty when the type says nothing useful ("application/octet-stream", "*", unknown
// long subtypes). The input is the type without its parameters ("text/html", not "...; charset=").
QString MimeToExtension(const QString& contentType);

// The extension a file's content shows (lower case, without the dot), or empty when the content is
// not recognised or the file cannot be read. Looks at signature bytes of the first 10 KB; for a
// compound file or a ZIP package that they leave open, at the container's directory; then an MP3 tag
// in the last 128 bytes, an HTML page's markup (anywhere in the first 10 KB of files under 200 KB,
// at the start of the first 8 KB of any file) and the keys of a CAA text file (files under 3 KB).
// Reads at most kDetectionReadLimit bytes (about 330 KB), whatever the file's size.
QString 打开文件判断文件类型(const QString& path);

// The same on an open, random-access device.
QString DetectFileType(QIODevice& file);

// What the detection reads at most of one file: the head, the last 128 bytes (an MP3 tag) and the
// directory of one container.
constexpr qint64 kDetectionHeadBytes = 10241;
constexpr qint64 kDetectionTailBytes = 128;
constexpr qint64 kDetectionReadLimit =
    kDetectionHeadBytes + kDetectionTailBytes + std::max(kCompoundReadLimit, kZipReadLimit);

} // namespace lintbay
