#include "PackageType.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Reads pieces of a random-access device at given offsets, never past its end and never more than a
// fixed number of bytes in all: offsets and sizes a file claims cannot make it allocate, seek or read
// beyond that.
class BoundedReader
{
public:
    BoundedReader(QIODevice& device, qint64 budget) : m_device(device), m_size(device.size()), m_left(budget)
    {
    }

    qint64 size() const { return m_size; }
    // True once a read was refused because the budget did not cover it.
    bool budgetSpent() const { return m_budgetSpent; }

    // The bytes [offset, offset + length), or an empty array when any of them lies outside the
    // device, the budget does not cover them or the device gives fewer.
    QByteArray read(qint64 offset, qint64 length)
    {
        if (offset < 0 || length <= 0 || offset > m_size || length > m_size - offset)
            return {};
        if (length > m_left) {
            m_budgetSpent = true;
            return {};
        }
        m_left -= length;
        if (!m_device.seek(offset))
            return {};
        QByteArray bytes = m_device.read(length);
        return bytes.size() == length ? bytes : QByteArray();
    }

private:
    QIODevice& m_device;
    qint64 m_size;
    qint64 m_left;
    bool m_budgetSpent = false;
};

// Little-endian fields; the callers have checked that the bytes are there.
quint16 u16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}
quint32 u32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}
quint64 u64(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint64>(bytes.constData() + at);
}

// ---- compound files ----

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kLastRegularSector = 0xFFFFFFFA;
constexpr qsizetype kCompoundHeaderSize = 512;
constexpr qsizetype kEntrySize = 128;
constexpr int kHeaderDifatEntries = 109;
constexpr char kStorageRoot = 5;
constexpr char kStream = 2;

// A compound file is a small file system: a FAT chains its sectors, a directory of 128-byte entries
// names its streams. Only the directory is read, through as much of the FAT as its chain needs.
class CompoundFile
{
public:
    explicit CompoundFile(QIODevice& device) : m_in(device, kCompoundReadLimit) {}

    QString documentType()
    {
        if (!readHeader())
            return {};
        const QStringList names = topStreamNames(readDirectory());
        const auto has = [&names](QLatin1StringView name) {
            return names.contains(name, Qt::CaseInsensitive);
        };
        if (has("WordDocument"_L1))
            return u"doc"_s;
        if (has("Workbook"_L1) || has("Book"_L1)) // BIFF8 and the older BIFF5 workbook
            return u"xls"_s;
        if (has("PowerPoint Document"_L1))
            return u"ppt"_s;
        // A password-protected Office Open XML package (EncryptionInfo + EncryptedPackage) keeps its
        // part names encrypted too: its directory is the same for a document, a workbook and a
        // presentation, so it tells nothing here.
        return {};
    }

private:
    bool readHeader()
    {
        m_header = m_in.read(0, kCompoundHeaderSize);
        if (m_header.size() != kCompoundHeaderSize || u16(m_header, 0x1C) != 0xFFFE)
            return false;
        const int shift = u16(m_header, 0x1E);
        if (shift != 9 && shift != 12)
            return false;
        m_sectorSize = qint64(1) << shift;
        if (m_in.size() < 2 * m_sectorSize)
            return false;
        // Sector n starts at (n + 1) sectors: the header fills sector -1.
        m_sectorCount = quint32(std::min<qint64>(m_in.size() / m_sectorSize - 1, kLastRegularSector + 1LL));
        m_fatSectorCount = u32(m_header, 0x2C);
        for (quint32 i = 0; i < std::min<quint32>(m_fatSectorCount, kHeaderDifatEntries); ++i)
            m_fatSectors.append(u32(m_header, 0x4C + 4 * i));
        m_nextDifatSector = u32(m_header, 0x44);
        m_difatSectorsLeft = u32(m_header, 0x48);
        return true;
    }

    QByteArray sector(quint32 id)
    {
        if (id >= m_sectorCount)
            return {};
        return m_in.read((qint64(id) + 1) * m_sectorSize, m_sectorSize);
    }

    // Where the FAT's sector `index` lies: the header lists the first 109, a chain of DIFAT sectors
    // the rest, read only as far as needed.
    std::optional<quint32> fatSector(quint32 index)
    {
        if (index >= m_fatSectorCount)
            return std::nullopt;
        const qsizetype perDifatSector = m_sectorSize / 4 - 1;
        while (index >= quint32(m_fatSectors.size())) {
            if (m_difatSectorsLeft == 0)
                return std::nullopt;
            --m_difatSectorsLeft;
            const QByteArray difat = sector(m_nextDifatSector);
            if (difat.isEmpty())
                return std::nullopt;
            for (qsizetype i = 0; i < perDifatSector && quint32(m_fatSectors.size()) < m_fatSectorCount; ++i)
                m_fatSectors.append(u32(difat, 4 * i));
            m_nextDifatSector = u32(difat, 4 * perDifatSector);
        }
        return m_fatSectors.at(index);
    }

    std::optional<quint32> next(quint32 id)
    {
        const quint32 perFatSector = quint32(m_sectorSize / 4);
        const std::optional<quint32> fatId = fatSector(id / perFatSector);
        if (!fatId)
            return std::nullopt;
        auto fat = m_fat.constFind(*fatId);
        if (fat == m_fat.cend()) {
            QByteArray bytes = sector(*fatId);
            if (bytes.isEmpty())
                return std::nullopt;
            fat = m_fat.insert(*fatId, bytes);
        }
        return u32(*fat, 4 * (id % perFatSector));
    }

    // The directory's sectors in chain order. A directory longer than the read budget is cut where
    // the budget ends; a chain that breaks or loops gives nothing, as the file is damaged.
    QByteArray readDirectory()
    {
        QByteArray directory;
        QSet<quint32> seen;
        for (quint32 id = u32(m_header, 0x30); id != kEndOfChain;) {
            if (seen.contains(id))
                return {};
            seen.insert(id);
            const QByteArray bytes = sector(id);
            if (bytes.isEmpty())
                return m_in.budgetSpent() ? directory : QByteArray();
            directory += bytes;
            const std::optional<quint32> following = next(id);
            if (!following)
                return m_in.budgetSpent() ? directory : QByteArray();
            id = *following;
        }
        return directory;
    }

    // The streams directly below the root storage. Streams of embedded objects live in storages of
    // their own (a workbook inside a document), so they do not count.
    static QStringList topStreamNames(const QByteArray& directory)
    {
        const qsizetype count = directory.size() / kEntrySize;
        if (count == 0 || directory.at(0x42) != kStorageRoot)
            return {};
        QStringList names;
        QSet<quint32> visited;
        // The root's children form a tree through their sibling links.
        QList<quint32> pending{u32(directory, 0x4C)};
        while (!pending.isEmpty()) {
            const quint32 id = pending.takeLast();
            if (id >= quint64(count) || visited.contains(id))
                continue;
            visited.insert(id);
            const qsizetype at = qsizetype(id) * kEntrySize;
            if (directory.at(at + 0x42) == kStream)
                names.append(entryName(directory, at));
            pending.append(u32(directory, at + 0x44));
            pending.append(u32(directory, at + 0x48));
        }
        return names;
    }

    static QString entryName(const QByteArray& directory, qsizetype at)
    {
        // The length counts the terminating zero, in bytes of UTF-16.
        const int length = u16(directory, at + 0x40);
        if (length < 2 || length > 64 || length % 2 != 0)
            return {};
        QString name;
        for (int i = 0; i < length / 2 - 1; ++i)
            name.append(QChar(u16(directory, at + 2 * i)));
        return name;
    }

    BoundedReader m_in;
    QByteArray m_header;
    qint64 m_sectorSize = 0;
    quint32 m_sectorCount = 0;
    quint32 m_fatSectorCount = 0;
    QList<quint32> m_fatSectors; // where the FAT's sectors are, as far as the DIFAT was read
    quint32 m_nextDifatSector = kEndOfChain;
    quint32 m_difatSectorsLeft = 0;
    QHash<quint32, QByteArray> m_fat; // FAT sectors read so far, by sector
};

// ---- ZIP packages ----

constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kMaxCommentSize = 0xFFFF;
constexpr qint64 kZip64LocatorSize = 20;
constexpr qint64 kZip64EndRecordSize = 56;
constexpr qint64 kCentralHeaderSize = 46;
constexpr qint64 kLocalHeaderSize = 30;
constexpr qint64 kDirectoryLimit = 256 * 1024;
constexpr qint64 kMimeTypeLimit = 128;

constexpr QByteArrayView kEndRecord("PK\x05\x06", 4);
constexpr QByteArrayView kZip64Locator("PK\x06\x07", 4);
constexpr QByteArrayView kZip64EndRecord("PK\x06\x06", 4);
constexpr QByteArrayView kCentralHeader("PK\x01\x02", 4);
constexpr QByteArrayView kLocalHeader("PK\x03\x04", 4);

struct CentralDirectory
{
    quint64 offset = 0;
    quint64 size = 0;
};

// Where the central directory lies, from the end record closest to the end of the file (a
// signature inside a comment or further up in the data comes later) and, for a ZIP64 archive, the
// record its locator points at.
std::optional<CentralDirectory> findCentralDirectory(BoundedReader& in)
{
    const qint64 tailSize = std::min(in.size(), kEndRecordSize + kMaxCommentSize);
    const qint64 tailStart = in.size() - tailSize;
    const QByteArray tail = in.read(tailStart, tailSize);
    if (tail.size() < kEndRecordSize)
        return std::nullopt;
    qsizetype at = tail.lastIndexOf(kEndRecord, tail.size() - kEndRecordSize);
    while (at >= 0 && at + kEndRecordSize + u16(tail, at + 20) > tail.size())
        at = at > 0 ? tail.lastIndexOf(kEndRecord, at - 1) : -1;
    if (at < 0)
        return std::nullopt;

    CentralDirectory found{u32(tail, at + 16), u32(tail, at + 12)};
    quint64 end = quint64(tailStart + at);
    if (found.offset == 0xFFFFFFFF || found.size == 0xFFFFFFFF) {
        const QByteArray locator = in.read(qint64(end) - kZip64LocatorSize, kZip64LocatorSize);
        if (!locator.startsWith(kZip64Locator) || u64(locator, 8) > end)
            return std::nullopt;
        end = u64(locator, 8);
        const QByteArray record = in.read(qint64(end), kZip64EndRecordSize);
        if (!record.startsWith(kZip64EndRecord))
            return std::nullopt;
        found = {u64(record, 48), u64(record, 40)};
    }
    if (found.offset > end || found.size > end - found.offset)
        return std::nullopt;
    return found;
}

// An OpenDocument package stores its media type uncompressed as the first entry.
QString openDocumentType(BoundedReader& in, qint64 localOffset, qint64 storedSize)
{
    if (storedSize > kMimeTypeLimit)
        return {};
    const QByteArray local = in.read(localOffset, kLocalHeaderSize);
    if (!local.startsWith(kLocalHeader))
        return {};
    const QByteArray mimeType =
        in.read(localOffset + kLocalHeaderSize + u16(local, 26) + u16(local, 28), storedSize);
    if (mimeType == "application/vnd.oasis.opendocument.text")
        return u"odt"_s;
    if (mimeType == "application/vnd.oasis.opendocument.spreadsheet")
        return u"ods"_s;
    if (mimeType == "application/vnd.oasis.opendocument.presentation")
        return u"odp"_s;
    return {};
}

} // namespace

bool OfficePartScan::see(QByteArrayView entryName)
{
    if (entryName == "[Content_Types].xml")
        m_contentTypes = true;
    else if (m_kind.isEmpty() && entryName.startsWith("word/"))
        m_kind = u"docx"_s;
    else if (m_kind.isEmpty() && entryName.startsWith("xl/"))
        m_kind = u"xlsx"_s;
    else if (m_kind.isEmpty() && entryName.startsWith("ppt/"))
        m_kind = u"pptx"_s;
    return !kind().isEmpty();
}

QString compoundFileType(QIODevice& device)
{
    return CompoundFile(device).documentType();
}

QString zipPackageType(QIODevice& device)
{
    BoundedReader in(device, kZipReadLimit);
    const std::optional<CentralDirectory> where = findCentralDirectory(in);
    if (!where)
        return {};
    // A directory beyond the limit is read in part: the parts that tell the kind come first.
    const QByteArray directory =
        in.read(qint64(where->offset), qint64(std::min<quint64>(where->size, kDirectoryLimit)));

    OfficePartScan office;
    for (qsizetype at = 0; at + kCentralHeaderSize <= directory.size();) {
        if (QByteArrayView(directory).sliced(at, 4) != kCentralHeader)
            break;
        const qsizetype nameLength = u16(directory, at + 28);
        if (at + kCentralHeaderSize + nameLength > directory.size())
            break;
        const QByteArrayView name = QByteArrayView(directory).sliced(at + kCentralHeaderSize, nameLength);
        if (at == 0 && name == "mimetype" && u16(directory, at + 10) == 0)
            return openDocumentType(in, u32(directory, at + 42), u32(directory, at + 20));
        if (office.see(name))
            return office.kind();
        at += kCentralHeaderSize + nameLength + u16(directory, at + 30) + u16(directory, at + 32);
    }
    return {};
}

} // namespace lintbay
