// Text from result titles, headers and search boxes that becomes file names, save paths and query
// bytes: the name cleaner, the save path choice in a real folder, the GBK byte cut and URL encoding.
//
// Input: a control byte (bit 0: the text is raw UTF-16 rather than UTF-8; bits 1-2: the duplicate
// name policy; bit 3: mode 1 rather than 2; bit 4: the chosen file is made and the choice asked
// again), a byte count for the GBK cut, then the text. A U+0001 in the text separates the name from
// the type for the save path.
//
// Invariants: a cleaned name holds no separator, control character or NUL, is not "." or "..", keeps
// to 200 GBK bytes and leaves room under the 255-byte file name limit, and cleaning it again changes
// nothing; a save path is its folder plus one file name within the limit, free when the policy counts
// on; a GBK cut is the longest fitting start of the text and never splits a character; the URL
// encoding leaves nothing but ASCII bare and gives back the text's GBK bytes, GB18030's for what GBK
// lacks (another kind of space a space, invisible marks none).

#include "FuzzSupport.h"

#include "download/DownloadListModel.h"
#include "download/FileNaming.h"
#include "util/AnsiCodec.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

// A save folder with names already taken: a file, a counted file, a folder and a dangling link.
const QString& saveFolder()
{
    static QTemporaryDir* dir = [] {
        auto* d = new QTemporaryDir();
        if (!d->isValid())
            std::abort();
        for (const QString& name : {u"a.pdf"_s, u"a[001].pdf"_s, u"b"_s, u"报告[7].doc"_s})
            QFile(d->filePath(name)).open(QIODevice::WriteOnly);
        QDir(d->path()).mkdir(u"c.doc"_s);
        QFile::link(d->filePath(u"nowhere"_s), d->filePath(u"d.pdf"_s));
        return d;
    }();
    static const QString path = dir->path();
    return path;
}

// The save folder as the save path functions get it, and where it lies.
const QString& saveDir()
{
    static const QString dir = folderWithSeparator(saveFolder());
    return dir;
}

const QString& saveDirAbsolute()
{
    static const QString path = QDir(saveDir()).absolutePath();
    return path;
}

bool isForbidden(QChar c)
{
    return c.unicode() < 0x20 || QStringView(u"\\/:*?\"<>|").contains(c);
}

int gbkBytes(QStringView text)
{
    return int(toAnsiBytes(text).size());
}

void checkCleanName(const QString& name)
{
    for (QChar c : name)
        FUZZ_CHECK(!isForbidden(c));
    FUZZ_CHECK(name != u"."_s && name != u".."_s);
    FUZZ_CHECK(!name.startsWith(u'.') && !name.endsWith(u'.'));
    FUZZ_CHECK(gbkBytes(name) <= 200);
    FUZZ_CHECK(fileNameLength(name) <= kMaxFileNameBytes - kNameSuffixReserveBytes);
    FUZZ_CHECK(SanitizeFileName(name) == name);
}

// Whether the folder has an entry of that name: a file, a folder or a link, dangling or not. A plain
// lstat: through QFileInfo, under the sanitizers, this check took up to a tenth of an input's time.
bool taken(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The file name a choice adds to the folder.
QString checkSavePath(const SavePathChoice& choice, const QString& dir, const QString& cleanType)
{
    FUZZ_CHECK(choice.path.startsWith(dir));
    const QString fileName = choice.path.sliced(dir.size());
    FUZZ_CHECK(fileName == (cleanType.isEmpty() ? choice.name : choice.name + u'.' + cleanType));
    FUZZ_CHECK(!fileName.isEmpty());
    FUZZ_CHECK(fileName != u"."_s && fileName != u".."_s);
    FUZZ_CHECK(!fileName.contains(u'/') && !fileName.contains(QChar(0)));
    FUZZ_CHECK(fileNameLength(fileName) <= kMaxFileNameBytes);
    FUZZ_CHECK(QFileInfo(choice.path).absolutePath() == saveDirAbsolute());
    return fileName;
}

void checkSavePathChoice(const QString& text, uint8_t control)
{
    static const QStringView policies[] = {kPolicySkip, kPolicyOverwrite, kPolicyRename, u"其他"};
    const QStringView policy = policies[(control >> 1) & 3];
    const int mode = (control & 8) ? 1 : 2;
    const qsizetype split = text.indexOf(QChar(1));
    const QString name = split >= 0 ? text.left(split) : text;
    const QString type = split >= 0 ? text.sliced(split + 1) : QString();

    const QString& dir = saveDir();
    const QString cleanType = SanitizeFileType(type);
    const SavePathChoice first = 重命名保存路径(saveFolder(), name, type, policy, mode);
    checkSavePath(first, dir, cleanType);
    const bool counts =
        policy.trimmed() != kPolicyOverwrite && (mode != 1 || policy.trimmed() == kPolicyRename);
    if (counts)
        FUZZ_CHECK(!taken(first.path));

    if (!(control & 16) || taken(first.path))
        return;
    // A file that appears at the chosen path moves the next choice on (or is overwritten).
    const QByteArray madePath = QFile::encodeName(first.path);
    const int made = ::open(madePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (made < 0)
        return;
    ::close(made);
    const SavePathChoice second = 重命名保存路径(saveFolder(), name, type, policy, mode);
    checkSavePath(second, dir, cleanType);
    if (counts)
        FUZZ_CHECK(second.path != first.path && !taken(second.path));
    else
        FUZZ_CHECK(second.path == first.path);
    FUZZ_CHECK(::unlink(madePath.constData()) == 0);
}

void checkAnsiCut(const QString& text, int n)
{
    const QString cut = LeftAnsiBytes(text, n);
    FUZZ_CHECK(text.startsWith(cut));
    FUZZ_CHECK(gbkBytes(cut) <= std::max(n, 0));
    if (cut.size() == text.size())
        return;
    // The next whole character would not have fitted, and a pair is never split.
    FUZZ_CHECK(!(cut.size() > 0 && cut.back().isHighSurrogate() && text[cut.size()].isLowSurrogate()));
    qsizetype next = cut.size() + 1;
    if (text[cut.size()].isHighSurrogate() && next < text.size() && text[next].isLowSurrogate())
        ++next;
    FUZZ_CHECK(gbkBytes(QStringView(text).left(next)) > n);
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// The bytes a character goes out as: GBK's, or for what GBK lacks a space for a space of another
// kind, nothing for an invisible mark, else GB18030's (GBK's "?" for half a surrogate pair).
QByteArray expectedQueryBytes(QStringView one)
{
    const char32_t c = one.size() == 2 ? QChar::surrogateToUcs4(one[0], one[1]) : one[0].unicode();
    if (c < 0x80 || AnsiCode(c) >= 0x80)
        return toAnsiBytes(one);
    if (QChar::isSpace(c))
        return " ";
    if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF)
        return {};
    const QByteArray wide = gb18030Bytes(c);
    return wide.isEmpty() ? toAnsiBytes(one) : wide;
}

void checkUrlEncoding(const QString& text)
{
    const QString encoded = UrlEncodeAnsi(text);
    // Decoding the escapes and encoding the rest gives the text's own bytes.
    const QStringView view(encoded);
    QByteArray bytes;
    qsizetype run = 0; // where the bare characters since the last escape start
    for (qsizetype i = 0; i < view.size(); ++i) {
        const QChar c = view[i];
        if (c == u'%') {
            FUZZ_CHECK(i + 2 < view.size());
            const int high = hexValue(view[i + 1]);
            const int low = hexValue(view[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            bytes += toAnsiBytes(view.sliced(run, i - run));
            bytes += char(high * 16 + low);
            i += 2;
            run = i + 1;
            continue;
        }
        FUZZ_CHECK(c != u'#' && c != u'^' && c != u'&' && c != u'+');
        // Only ASCII stays bare.
        FUZZ_CHECK(c.unicode() < 0x80);
    }
    bytes += toAnsiBytes(view.sliced(run));
    QByteArray expected;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        expected += expectedQueryBytes(QStringView(text).sliced(i, pair ? 2 : 1));
        i += pair ? 1 : 0;
    }
    FUZZ_CHECK(bytes == expected);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    saveFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t control = fuzz::takeByte(data, size);
    const int cutBytes = int(fuzz::takeByte(data, size)) - 8;
    const QString text =
        (control & 1) ? fuzz::utf16Of(data, size) : QString::fromUtf8(fuzz::bytesOf(data, size));

    checkCleanName(SanitizeFileName(text));
    checkSavePathChoice(text, control);
    checkAnsiCut(text, cutBytes);
    checkUrlEncoding(text);
    return 0;
}
