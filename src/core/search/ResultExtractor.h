#pragma once

#include <QString>

namespace lintbay {

class HtmlDocument;
class ResultListModel;

// The search window's extraction options, named after the check boxes that set them.
struct ExtractionOptions
{
    bool removeSpaces = false;    // Check1 "删除标题中的空格"
    bool skipUnknownType = false; // Check2 "不添加文件类型不明的"
    bool skipKana = false;        // Check12 "不添加日文的"
    bool skipTraditional = false; // Check13 "不添加繁体中文的"
    bool toSimplified = false;    // Check14 "繁体转简体"
    // Host (and ":port") of the search engine, as SearchEngineDomain() gives it. Only links through
    // the engine's own redirect ("<engineDomain>/link?url=") are kept; with no domain nothing is.
    QString engineDomain;
    // The document-sharing site whose "<domain>豆丁网" title suffix marks its own pages.
    QString sharingSiteDomain = QStringLiteral("docin.com");
};

// Walks the result entries of a search result page and appends the ones worth keeping to the list,
// with the page's address as their tag and the given save folder. Returns the number of entries
// offered to the list (duplicates of rows already present included; those add nothing).
int ExtractResults(const HtmlDocument& document, const ExtractionOptions& options, const QString& saveFolder,
                   ResultListModel& list);

} // namespace lintbay
