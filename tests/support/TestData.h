#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace lintbay::test {

// Bytes that are not all alike (so a shifted or repeated piece shows), of the given length.
inline QByteArray payload(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

// A file's whole content; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `data` as the whole file; false when not all of it could be written.
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// True when `text` reads as `pattern`, where each "*" stands for any text (figures that depend on
// timing, such as a byte count when a connection broke).
inline bool matchesPattern(const QString& text, const QString& pattern)
{
    const QStringList pieces = pattern.split(u'*');
    if (pieces.size() == 1)
        return text == pattern;
    if (!text.startsWith(pieces.first()) || !text.endsWith(pieces.last()) ||
        text.size() < pieces.first().size() + pieces.last().size())
        return false;
    qsizetype at = pieces.first().size();
    for (qsizetype i = 1; i + 1 < pieces.size(); ++i) {
        at = text.indexOf(pieces.at(i), at);
        if (at < 0)
            return false;
        at += pieces.at(i).size();
    }
    return at <= text.size() - pieces.last().size();
}

} // namespace lintbay::test
