// File type detection over a downloaded file's bytes: signatures, the directory of a compound file or
// a ZIP package (offsets and sizes taken from the file itself), an MP3 tag, web page markup.
//
// Input: one byte of padding (n × 16 KB of zero bytes inserted in the middle of the content, so that
// small inputs also stand for large files whose structures lie far apart), then the content.
//
// Invariants: the detection reads at most kDetectionReadLimit bytes whatever the file claims and
// whatever its size; it never writes; its answer is empty or one of the types it knows.

#include "FuzzSupport.h"

#include "download/TypeDetection.h"

#include <QIODevice>
#include <QSet>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

constexpr qint64 kPaddingUnit = 16 * 1024;

// A random-access file of `head`, `padding` zero bytes and `tail`, counting every byte handed out.
class CountingDevice : public QIODevice
{
public:
    CountingDevice(QByteArray head, qint64 padding, QByteArray tail)
        : m_head(std::move(head)), m_padding(padding), m_tail(std::move(tail))
    {
    }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_head.size() + m_padding + m_tail.size(); }
    qint64 bytesRead() const { return m_bytesRead; }
    bool written() const { return m_written; }

protected:
    qint64 readData(char* out, qint64 maxSize) override
    {
        qint64 at = pos();
        const qint64 n = std::max<qint64>(0, std::min(maxSize, size() - at));
        // Copied a span at a time: the head, the zero bytes, the tail.
        for (qint64 done = 0; done < n;) {
            qint64 span;
            if (at < m_head.size()) {
                span = std::min(n - done, m_head.size() - at);
                std::memcpy(out + done, m_head.constData() + at, size_t(span));
            } else if (at < m_head.size() + m_padding) {
                span = std::min(n - done, m_head.size() + m_padding - at);
                std::memset(out + done, 0, size_t(span));
            } else {
                span = n - done;
                std::memcpy(out + done, m_tail.constData() + (at - m_head.size() - m_padding), size_t(span));
            }
            done += span;
            at += span;
        }
        m_bytesRead += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override
    {
        m_written = true;
        return -1;
    }

private:
    QByteArray m_head;
    qint64 m_padding;
    QByteArray m_tail;
    qint64 m_bytesRead = 0;
    bool m_written = false;
};

const QSet<QString>& knownTypes()
{
    static const QSet<QString> types = {
        u"pdf"_s,  u"caj"_s, u"kdh"_s, u"nh"_s,  u"tif"_s,  u"rtf"_s,  u"exe"_s,  u"rar"_s,
        u"zip"_s,  u"docx"_s, u"xlsx"_s, u"pptx"_s, u"odt"_s, u"ods"_s, u"odp"_s, u"swf"_s,
        u"rm"_s,   u"wma"_s, u"mp3"_s, u"png"_s, u"gif"_s,  u"jpg"_s,  u"doc"_s,  u"xls"_s,
        u"ppt"_s,  u"gz"_s,  u"7z"_s,  u"htm"_s, u"caa"_s,
    };
    return types;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const qint64 padding = fuzz::takeByte(data, size) * kPaddingUnit;
    const QByteArray content = fuzz::bytesOf(data, size);
    const qsizetype middle = content.size() / 2;
    CountingDevice device(padding ? content.first(middle) : content, padding,
                          padding ? content.sliced(middle) : QByteArray());
    // As the detection opens files: unbuffered, so every byte it asks for is a byte read.
    FUZZ_CHECK(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));

    const QString type = DetectFileType(device);
    FUZZ_CHECK(device.bytesRead() <= kDetectionReadLimit);
    FUZZ_CHECK(!device.written());
    FUZZ_CHECK(type.isEmpty() || knownTypes().contains(type));
    return 0;
}
