// The update check's inputs from outside: the body of the maker's version file, and the server
// address as the settings file holds it.
//
// Input: the body (also read as the address setting, and as numbers for a well-formed answer).
//
// Invariants: an accepted answer is what the parser's contract allows (at most 1 KB, no NUL, UTF-8,
// trimmed, at most 20 characters, three runs of digits 0-9 between dots) and scores as its parts do;
// a well-formed answer "a.b.c" that fits is always accepted, whatever blanks or byte order mark
// surround it; a usable server address is http(s) with a host and gives the version file and the
// program page on that host.

#include "FuzzSupport.h"

#include "update/UpdateCheck.h"
#include "util/TextHelpers.h"

#include <QByteArrayView>
#include <QStringList>
#include <QtEndian>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

void checkAnswer(const QByteArray& body)
{
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(body);
    if (!answer)
        return;
    FUZZ_CHECK(body.size() <= 1024 && !body.contains('\0'));
    FUZZ_CHECK(QByteArrayView(body).isValidUtf8());
    const QString& text = answer->text;
    FUZZ_CHECK(!text.isEmpty() && text.size() <= 20 && text == text.trimmed());
    const QStringList parts = text.split(u'.');
    FUZZ_CHECK(parts.size() == 3);
    qint64 numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        FUZZ_CHECK(isAsciiDigits(parts[i]));
        bool ok = false;
        numbers[i] = parts[i].toLongLong(&ok);
        FUZZ_CHECK(ok);
    }
    FUZZ_CHECK(VersionScore(numbers[0], numbers[1], numbers[2]) == answer->score);
    FUZZ_CHECK(answer->score >= 0);
    FUZZ_CHECK(IsNewerVersion(*answer, answer->score - 1) && !IsNewerVersion(*answer, answer->score));
}

// Three numbers of any size from the input, written as a version file an editor might have saved.
void checkWellFormed(const uint8_t* data, size_t size)
{
    uint8_t raw[25] = {};
    std::memcpy(raw, data, std::min<size_t>(size, sizeof raw));
    qint64 numbers[3];
    for (int i = 0; i < 3; ++i) {
        // Not negative, and from 1 to 19 digits long.
        const quint64 value = qFromLittleEndian<quint64>(raw + 8 * i) >> 1;
        const int shift = ((raw[24] >> (2 * i)) & 3) * 20;
        numbers[i] = qint64(value >> shift);
    }
    const QString text = QString::number(numbers[0]) + u'.' + QString::number(numbers[1]) + u'.' +
                         QString::number(numbers[2]);
    QByteArray body = text.toUtf8();
    if (raw[24] & 0x80)
        body = " \t" + body + "\r\n";
    if (raw[24] & 0x40)
        body.prepend("\xEF\xBB\xBF");

    const std::optional<qint64> score = VersionScore(numbers[0], numbers[1], numbers[2]);
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(body);
    FUZZ_CHECK(answer.has_value() == (score.has_value() && text.size() <= 20));
    if (answer) {
        FUZZ_CHECK(answer->text == text);
        FUZZ_CHECK(answer->score == *score);
    }
}

void checkAddress(const QString& setting)
{
    const QUrl base = UpdateBaseUrl(setting);
    if (!base.isValid())
        return;
    const QString scheme = base.scheme().toLower();
    FUZZ_CHECK(scheme == u"http"_s || scheme == u"https"_s);
    FUZZ_CHECK(!base.host().isEmpty());
    FUZZ_CHECK(!base.hasQuery() && !base.hasFragment());
    const QUrl file = VersionFileUrl(base);
    FUZZ_CHECK(file.isValid() && file.host() == base.host());
    FUZZ_CHECK(file.path().endsWith(u"/newver.txt"_s));
    const QUrl page = ProgramPageUrl(base);
    FUZZ_CHECK(page.isValid() && page.host() == base.host());
    FUZZ_CHECK(page.path().endsWith(u'/'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzz::bytesOf(data, size);
    checkAnswer(body);
    checkWellFormed(data, size);
    if (size <= 4096)
        checkAddress(QString::fromUtf8(body));
    return 0;
}
