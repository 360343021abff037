#pragma once

#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace lintbay {

// The most a package look-up reads of a device, whatever the device's size and whatever the offsets
// and sizes its structures claim.
constexpr qint64 kCompoundReadLimit = 256 * 1024;
constexpr qint64 kZipReadLimit = (64 + 256 + 1) * 1024;

// The kind of Office Open XML package an entry's name shows ("word/document.xml": "docx"), or empty.
QString officePartKind(QByteArrayView entryName);

// The office document a compound file holds, told by the streams at the top of its directory:
// "doc", "xls" or "ppt"; empty when the directory names none of them or cannot be read.
QString compoundFileType(QIODevice& device);

// The document a ZIP package holds, told by its central directory: "docx", "xlsx" or "pptx" for an
// Office Open XML package, "odt", "ods" or "odp" for an OpenDocument one; empty otherwise.
QString zipPackageType(QIODevice& device);

} // namespace lintbay
