#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace lintbay {

// Writes the lines in the system's encoding, each ended by CR LF. The file appears under its name
// only when complete; false when it cannot be written (the old file, if any, is then untouched).
bool writeTextFile(const QString& path, const QStringList& lines, QString* error = nullptr);
// Writes the bytes as the whole file, on the same terms.
bool writeWholeFile(const QString& path, const QByteArray& data, QString* error = nullptr);

// Reads a text file written by this program or by hand: UTF-8 (with or without BOM), UTF-16 with
// BOM, else GBK. Lines may end in CR LF, LF or CR. `ok` is false (and the result empty) when the
// file cannot be read.
QStringList readTextLines(const QString& path, bool* ok = nullptr);

// Splits a text at CR LF, LF or CR.
QStringList splitLines(const QString& text);

} // namespace lintbay
