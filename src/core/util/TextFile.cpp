#include "TextFile.h"

#include "AnsiCodec.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace lintbay {

namespace {

QString decodeText(QByteArrayView bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.sliced(3));
    if (bytes.startsWith("\xFF\xFE"))
        return QString(QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.sliced(2)));
    if (bytes.startsWith("\xFE\xFF"))
        return QString(QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.sliced(2)));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Files of the program's earlier versions and of other tools on Chinese systems.
    return fromAnsiBytes(bytes);
}

QStringList splitLinesOf(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.sliced(start, i - start));
            ++i;
            if (c == u'\r' && i < text.size() && text[i] == u'\n')
                ++i;
            start = i;
        } else {
            ++i;
        }
    }
    // A last line without a line end still counts; the end of the final line adds none.
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}

} // namespace

bool writeTextFile(const QString& path, const QStringList& lines, QString* error)
{
    // One text, encoded at once: a list of many names is one allocation, not one per line.
    qsizetype length = 0;
    for (const QString& line : lines)
        length += line.size() + 2;
    QString text;
    text.reserve(length);
    for (const QString& line : lines) {
        text += line;
        text += u"\r\n";
    }
    QStringEncoder encoder(QStringConverter::System);
    return writeWholeFile(path, encoder.encode(text), error);
}

bool writeWholeFile(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    const auto fail = [&] {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail();
    if (file.write(data) != data.size())
        return fail();
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QStringList readTextLines(const QString& path, bool* ok)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    if (!opened)
        return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (ok)
            *ok = false;
        return {};
    }
    return splitLinesOf(decodeText(bytes));
}

QStringList splitLines(const QString& text)
{
    return splitLinesOf(text);
}

} // namespace lintbay
