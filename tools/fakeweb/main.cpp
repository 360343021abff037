// fakeweb: the local search engine for the demo and for trying the program without the internet.
//
//   fakeweb [--port N] [--write-settings INI]
//
// Prints its address ("http://127.0.0.1:PORT") as the first line of standard output once it
// listens, and serves until SIGINT or SIGTERM. With --write-settings it first stores that address as
// the search engine in the given settings file, so the program started next searches here.

#include "FakeWeb.h"

#include "app/AppContext.h"
#include "app/SettingsStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

// A signal handler may do next to nothing; it wakes the event loop through a socket pair, and the
// loop quits normally so that the server closes its port.
void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
#else
void quitOnSignals(QCoreApplication&)
{
    // Elsewhere the default handlers end the process, which is all a test server needs.
}
#endif

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"fakeweb"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Local search engine and file server for the Lintbay demo and tests."_s);
    parser.addHelpOption();
    const QCommandLineOption portOption(u"port"_s, u"Port on 127.0.0.1 (0: a free one)."_s, u"N"_s, u"0"_s);
    const QCommandLineOption settingsOption(
        u"write-settings"_s, u"Store the address as the search engine in this INI file."_s, u"INI"_s);
    const QCommandLineOption verifyOption(
        u"verify-after"_s, u"Answer with the verification page after N queries, until it is solved."_s, u"N"_s,
        u"0"_s);
    parser.addOption(portOption);
    parser.addOption(settingsOption);
    parser.addOption(verifyOption);
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "fakeweb: invalid port: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    lintbay::fakeweb::FakeWeb web;
    if (!web.listen(quint16(port)) || !web.server()->isListening()) {
        std::fprintf(stderr, "fakeweb: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    web.setVerifyAfter(parser.value(verifyOption).toInt());
    // A long session would otherwise keep every request it ever served.
    QObject::connect(web.server(), &lintbay::test::TestHttpServer::requestReceived, web.server(),
                     [&web] { web.server()->clearLog(); });

    if (parser.isSet(settingsOption)) {
        lintbay::SettingsStore settings(parser.value(settingsOption));
        settings.set(lintbay::keys::kSettings, lintbay::keys::kSearchEngine, web.address());
        settings.sync();
    }

    quitOnSignals(app);
    std::printf("%s\n", qPrintable(web.address()));
    std::fflush(stdout);
    return app.exec();
}
