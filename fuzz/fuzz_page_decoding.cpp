// Page bodies and their Content-Type as servers send them, decoded the way a browser would: byte
// order mark, the header's charset, a <meta> declaration, UTF-8, else GBK. Charset names come from
// the page itself and reach ICU's converter lookup.
//
// Input: the Content-Type value up to the first LF, then the body.
//
// Invariants: the decoded text is valid UTF-16 (a decoder never makes up half a surrogate pair); the
// charset reported as used is a lower-case label without blanks around it; charset labels
// read from a header or a page are the same.

#include "FuzzSupport.h"

#include "app/PageDecoding.h"

using namespace lintbay;

namespace {

void checkLabel(const QByteArray& label)
{
    FUZZ_CHECK(label == label.toLower());
    FUZZ_CHECK(label == label.trimmed());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = fuzz::bytesOf(data, size);
    const qsizetype lf = input.indexOf('\n');
    const QByteArray contentType = lf >= 0 ? input.left(lf) : QByteArray();
    const QByteArray body = lf >= 0 ? input.sliced(lf + 1) : input;

    const QByteArray fromHeader = charsetFromContentType(contentType);
    checkLabel(fromHeader);
    const QByteArray fromMeta = charsetFromMeta(body);
    checkLabel(fromMeta);
    FUZZ_CHECK(!fromMeta.contains(' ') && !fromMeta.contains('>'));

    QByteArray used;
    const QString text = decodePage(body, contentType, &used);
    FUZZ_CHECK(!used.isEmpty());
    checkLabel(used);
    FUZZ_CHECK(text.isValidUtf16());
    return 0;
}
