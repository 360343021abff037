#pragma once

#include "FakeFiles.h"
#include "FakeWebModel.h"
#include "TestHttpServer.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace lintbay {
struct QueryOptions;
}

namespace lintbay::fakeweb {

// The local search engine: a home page with a search form, result pages in the engine's markup, its
// redirects and the files behind them, all on 127.0.0.1. The answers come from FakeWebModel, so a
// test predicts them with the model alone.
//
//   /                   home page with the search form (UTF-8; the form sends the keyword in GBK)
//   /s?q1=…&ft=…&pn=…   result page pn/10 of the query (q2 instead of q1 works the same), UTF-8
//   /link?url=<token>   302 to the entry's file or web page; 404 for unknown tokens
//   /files/<name>.<ext> a document with the right leading bytes and content type
//   /pages/<name>.html  a web page (what some redirects end on instead of a document)
//   /verify?back=…      the verification challenge's answer: results again, and back to the page
//                       (only with setVerifyAfter)
class FakeWeb : public QObject
{
    Q_OBJECT
public:
    // Serves on a server of its own, on a free port.
    explicit FakeWeb(QObject* parent = nullptr);
    // Serves on the given server (its other routes stay; these paths are replaced).
    explicit FakeWeb(test::TestHttpServer* server, QObject* parent = nullptr);

    test::TestHttpServer* server() const { return m_server; }
    // Moves the server to this port on 127.0.0.1 (0: a free one). False when the port is taken.
    bool listen(quint16 port);
    // "http://127.0.0.1:PORT": what the settings take as the search engine's address.
    QString address() const;
    // The query address the search window builds for a keyword line and type, at page `page`.
    QUrl searchUrl(const QString& keyword, const QString& ft, int page = 0) const;
    QUrl searchUrl(const QString& keyword, const QString& ft, int page, const QueryOptions& options) const;

    static void installRoutes(test::TestHttpServer& server);

    // From the query after `queries` answered ones on, every result page is the engine's
    // verification page instead, until its challenge is submitted; 0 (the default): never.
    void setVerifyAfter(int queries);
    int queriesAnswered() const { return m_queries; }
    bool verificationSolved() const { return m_solved; }
    static QString verificationPage(const QString& back);
    // The answer to one request; depends on nothing but the request (its Host header names the
    // origin written into absolute links).
    static test::TestHttpResponse respond(const test::TestHttpRequest& request);

    // Page renderers, for tests that want the markup without a server. `rawQuery` is the query as
    // sent (the pager keeps it and only replaces pn); `origin` is "http://host:port".
    static QString homePage();
    static QString resultPage(const SearchQuery& query, const QString& rawQuery, const QString& origin);

private:
    test::TestHttpResponse respondWithVerification(const test::TestHttpRequest& request);

    QPointer<test::TestHttpServer> m_server;
    int m_verifyAfter = 0;
    int m_queries = 0;
    bool m_solved = false;
};

} // namespace lintbay::fakeweb
