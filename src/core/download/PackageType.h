#pragma once

#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace lintbay {

// The most a package look-up reads of a device, whatever the device's size and whatever the offsets
// and sizes its structures claim.
constexpr qint64 kCompoundReadLimit = 256 * 1024;
constexpr qint64 kZipReadLimit = (64 + 256 + 1) * 1024;

// The entry names of a ZIP archive, in order, looked at for the kind of Office Open XML package it is:
// one that declares its parts' types ("[Content_Types].xml") and has a part folder ("word/": "docx",
// "xl/": "xlsx", "ppt/": "pptx"). A plain archive may hold a folder of such a name.
class OfficePartScan
{
public:
    // True once the kind is known.
    bool see(QByteArrayView entryName);
    // The kind, or empty while the names seen do not tell.
    QString kind() const { return m_contentTypes ? m_kind : QString(); }

private:
    bool m_contentTypes = false;
    QString m_kind;
};

// The office document a compound file holds, told by the streams at the top of its directory:
// "doc", "xls" or "ppt"; empty when the directory names none of them or cannot be read.
QString compoundFileType(QIODevice& device);

// The document a ZIP package holds, told by its central directory: "docx", "xlsx" or "pptx" for an
// Office Open XML package, "odt", "ods" or "odp" for an OpenDocument one; empty otherwise.
QString zipPackageType(QIODevice& device);

} // namespace lintbay
