// Type detection on 100 MB files, the worst case of each container: what is read (counted below the
// detection, through a counting device) and how long it takes. Usage: bench_typedetect [MB] [runs]
#include "CountingDevice.h"
#include "Median.h"
#include "download/TypeDetection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFree = 0xFFFFFFFF;

template <typename T> void put(QByteArray& bytes, qsizetype at, T value)
{
    qToLittleEndian<T>(value, bytes.data() + at);
}

// A file of `size` bytes, sparse but for the pieces written at their offsets.
bool writeSparse(const QString& path, qint64 size, const QList<std::pair<qint64, QByteArray>>& pieces)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || !f.resize(size))
        return false;
    for (const auto& [offset, bytes] : pieces) {
        if (!f.seek(offset) || f.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

QByteArray directoryEntry(const QString& name, int type, quint32 child)
{
    QByteArray e(128, '\0');
    for (int i = 0; i < name.size(); ++i)
        put<quint16>(e, 2 * i, name.at(i).unicode());
    put<quint16>(e, 0x40, quint16(2 * name.size() + 2));
    e[0x42] = char(type);
    put<quint32>(e, 0x44, kFree);
    put<quint32>(e, 0x48, kFree);
    put<quint32>(e, 0x4C, child);
    return e;
}

// A compound file of 512-byte sectors whose FAT fills the first sectors (its DIFAT chain included)
// and whose directory chain runs through `directorySectors` sectors from the end of the file down,
// 128 sectors apart: every step needs another FAT sector.
QList<std::pair<qint64, QByteArray>> compoundFile(qint64 size, int directorySectors, const QString& stream)
{
    const quint32 sectors = quint32(size / 512 - 1);
    const quint32 fatCount = (sectors + 127) / 128;
    const quint32 difatCount = fatCount > 109 ? (fatCount - 109 + 126) / 127 : 0;
    QList<quint32> directory;
    for (int i = 0; i < directorySectors; ++i)
        directory.append(sectors - 1 - 128 * quint32(i));

    QByteArray fat(fatCount * 512, '\xFF');
    for (quint32 i = 0; i < fatCount; ++i)
        put<quint32>(fat, 4 * i, 0xFFFFFFFD);
    for (quint32 i = 0; i < difatCount; ++i)
        put<quint32>(fat, 4 * (fatCount + i), 0xFFFFFFFC);
    for (int i = 0; i < directory.size(); ++i)
        put<quint32>(fat, 4 * directory.at(i), i + 1 < directory.size() ? directory.at(i + 1) : kEndOfChain);

    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray::fromHex("d0cf11e0a1b11ae1"));
    put<quint16>(header, 0x18, 0x3E);
    put<quint16>(header, 0x1A, 3);
    put<quint16>(header, 0x1C, 0xFFFE);
    put<quint16>(header, 0x1E, 9);
    put<quint16>(header, 0x20, 6);
    put<quint32>(header, 0x2C, fatCount);
    put<quint32>(header, 0x30, directory.first());
    put<quint32>(header, 0x38, 4096);
    put<quint32>(header, 0x3C, kEndOfChain);
    put<quint32>(header, 0x44, difatCount ? fatCount : kEndOfChain);
    put<quint32>(header, 0x48, difatCount);
    for (quint32 i = 0; i < 109; ++i)
        put<quint32>(header, 0x4C + 4 * i, i < fatCount ? i : kFree);

    QByteArray difat(difatCount * 512, '\xFF');
    for (quint32 j = 0; j < difatCount; ++j) {
        for (quint32 k = 0; k < 127; ++k) {
            const quint32 fatSector = 109 + j * 127 + k;
            put<quint32>(difat, j * 512 + 4 * k, fatSector < fatCount ? fatSector : kFree);
        }
        put<quint32>(difat, j * 512 + 508, j + 1 < difatCount ? fatCount + j + 1 : kEndOfChain);
    }

    QList<std::pair<qint64, QByteArray>> pieces{{0, header}, {512, fat + difat}};
    QByteArray first = directoryEntry(u"Root Entry"_s, 5, 1) + directoryEntry(stream, 2, kFree);
    pieces.append({(qint64(directory.first()) + 1) * 512, first});
    return pieces;
}

// A ZIP file whose only local header carries a data-descriptor flag (so the signatures leave it
// open) and whose central directory of `entries` entries and end record, with a comment of the
// longest length, close the file.
QList<std::pair<qint64, QByteArray>> zipFile(qint64 size, const QStringList& names)
{
    QByteArray local(30, '\0');
    local.replace(0, 4, "PK\x03\x04");
    put<quint16>(local, 4, 20);
    put<quint16>(local, 6, 0x0808);
    put<quint16>(local, 8, 8);
    put<quint16>(local, 26, 5);
    local += "a.bin";
    QByteArray central;
    for (const QString& name : names) {
        QByteArray entry(46, '\0');
        entry.replace(0, 4, "PK\x01\x02");
        put<quint16>(entry, 10, 8);
        put<quint16>(entry, 28, quint16(name.size()));
        central += entry + name.toLatin1();
    }
    QByteArray end(22, '\0');
    end.replace(0, 4, "PK\x05\x06");
    const QByteArray comment(0xFFFF, 'c');
    const qint64 centralOffset = size - comment.size() - end.size() - central.size();
    put<quint16>(end, 8, quint16(std::min<qsizetype>(names.size(), 0xFFFF)));
    put<quint16>(end, 10, quint16(std::min<qsizetype>(names.size(), 0xFFFF)));
    put<quint32>(end, 12, quint32(central.size()));
    put<quint32>(end, 16, quint32(centralOffset));
    put<quint16>(end, 20, quint16(comment.size()));
    return {{0, local}, {centralOffset, central + end + comment}};
}

QStringList entryNames(int count, const QString& pattern)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(pattern.arg(i, 6, 10, QLatin1Char('0')));
    return names;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 size = (args.size() > 1 ? args.at(1).toLongLong() : 100) * 1024 * 1024;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 21;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    struct Case
    {
        const char* name;
        QList<std::pair<qint64, QByteArray>> pieces;
    };
    const QStringList office{u"[Content_Types].xml"_s, u"_rels/.rels"_s, u"word/document.xml"_s,
                             u"word/styles.xml"_s, u"docProps/core.xml"_s};
    const QList<Case> cases{
        {"compound, 1500 scattered directory sectors, no main stream", compoundFile(size, 1500, u"Data"_s)},
        {"compound, 4 directory sectors at the end, WordDocument", compoundFile(size, 4, u"WordDocument"_s)},
        {"zip, 1 MB central directory of plain entries at the end",
         zipFile(size, entryNames(16000, u"data/file%1.bin"_s))},
        {"zip, Office package's central directory at the end", zipFile(size, office)},
        {"text, no answer", {{0, QByteArray(64 * 1024, 't')}}},
        {"html page", {{0, "<!DOCTYPE html>\n<html><head><title>x</title></head><body>"}}},
    };

    std::printf("%-60s %6s %10s %6s %10s\n", "file (size MB)", "type", "bytes", "reads", "median ms");
    for (const Case& c : cases) {
        const QString path = dir.filePath(u"f"_s);
        if (!writeSparse(path, size, c.pieces))
            return 1;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return 1;
        test::CountingDevice counted(file);
        const QString type = DetectFileType(counted);
        file.close();

        QList<double> ms;
        for (int r = 0; r < runs; ++r) {
            QElapsedTimer t;
            t.start();
            const QString again = 打开文件判断文件类型(path);
            ms.append(t.nsecsElapsed() / 1e6);
            if (again != type)
                return 2;
        }
        std::printf("%-60s %6s %10lld %6d %10.3f\n", c.name, type.isEmpty() ? "-" : qPrintable(type),
                    static_cast<long long>(counted.bytesRead()), counted.reads(), median(ms));
    }
    std::printf("limit: %lld bytes; file size %lld MB\n", static_cast<long long>(kDetectionReadLimit),
                static_cast<long long>(size / 1024 / 1024));
    return 0;
}
