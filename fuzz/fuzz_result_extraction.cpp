// A search result page as the engine (or anything pretending to be it) sends it: parsed into a
// snapshot and walked for result entries into the result list.
//
// Input: one byte of extraction options (bit 0 remove spaces, 1 skip unknown type, 2 skip kana,
// 3 skip Traditional, 4 convert to Simplified), then the page as UTF-8.
//
// Invariants: the snapshot keeps the source it was given; every row has a title and a link through
// the engine's redirect, the page's address as tag, one of the engine's types, the folder it was
// given; extracting the same page again offers the same entries and adds no row.

#include "FuzzSupport.h"

#include "app/HtmlDocument.h"
#include "search/ResultExtractor.h"
#include "search/ResultListModel.h"

#include <QUrl>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

const QString kEngineDomain = u"www.search.test"_s;
const QUrl kPageUrl(u"http://www.search.test/s?q1=%BB%FA%C6%F7&ft=pdf&pn=10"_s);
const QString kSaveFolder = u"/tmp/下载"_s;

bool isEngineType(const QString& type)
{
    return type.isEmpty() || type == u"PDF"_s || type == u"doc"_s || type == u"xls"_s || type == u"ppt"_s ||
           type == u"rtf"_s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t flags = fuzz::takeByte(data, size);
    ExtractionOptions options;
    options.removeSpaces = flags & 1;
    options.skipUnknownType = flags & 2;
    options.skipKana = flags & 4;
    options.skipTraditional = flags & 8;
    options.toSimplified = flags & 16;
    options.engineDomain = kEngineDomain;

    const QString html = QString::fromUtf8(fuzz::bytesOf(data, size));
    const std::shared_ptr<HtmlDocument> document = HtmlDocument::parse(html, kPageUrl);
    FUZZ_CHECK(document);
    FUZZ_CHECK(document->source() == html);

    ResultListModel list;
    const int offered = ExtractResults(*document, options, kSaveFolder, list);
    const int rows = list.count();
    FUZZ_CHECK(offered >= 0 && rows <= offered);

    const QString redirectMark = kEngineDomain + u"/link?url="_s;
    for (const SearchResult& row : list.rows()) {
        FUZZ_CHECK(!row.title.isEmpty());
        FUZZ_CHECK(!row.key.isEmpty());
        FUZZ_CHECK(row.key.contains(redirectMark, Qt::CaseInsensitive));
        FUZZ_CHECK(row.tag == document->URL());
        FUZZ_CHECK(row.saveFolder == kSaveFolder);
        FUZZ_CHECK(row.status.isEmpty());
        FUZZ_CHECK(isEngineType(row.type));
        if (options.skipUnknownType)
            FUZZ_CHECK(!row.type.isEmpty());
        if (options.removeSpaces && !options.toSimplified)
            FUZZ_CHECK(!row.title.contains(u' '));
        FUZZ_CHECK(list.rowOfKey(row.key) >= 0 && list.at(list.rowOfKey(row.key)).key == row.key);
    }

    const int offeredAgain = ExtractResults(*document, options, kSaveFolder, list);
    FUZZ_CHECK(offeredAgain == offered);
    FUZZ_CHECK(list.count() == rows);
    return 0;
}
