// lintbay-screenshots FOLDER
//
// Draws the pictures of the windows for the user's guide into FOLDER: cover.png (the start-up
// window), search.png (the search window after a batch search) and download.png (the download window
// once the results were handed over and downloaded). The program's own windows run against the local
// search engine, in the embedded browser, with settings, browser data and downloads in a temporary
// folder. Run it under an X server (scripts/screenshots.sh starts one); each picture is taken from the
// screen, so it shows what the server shows, browser content included.
#include "FakeWeb.h"
#include "app/AppContext.h"
#include "app/Browser.h"
#include "app/BrowserProfile.h"
#include "app/GuiContext.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/fFileDownload.h"
#include "options/IniRegistry.h"
#include "search/ResultListModel.h"
#include "search/fWebSearch.h"
#include "util/Messages.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

// Runs the event loop until `done` holds or `ms` pass; whether it held.
bool waitUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

[[noreturn]] void fail(const QString& text)
{
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(text));
    std::fflush(stderr);
    std::_Exit(1);
}

// Shows the window at its place and size, lets it paint, and writes what the screen shows of it.
void shoot(QWidget* window, const QSize& size, const QString& path)
{
    window->move(20, 20);
    if (size.isValid())
        window->resize(size);
    window->show();
    window->raise();
    window->activateWindow();
    if (!waitUntil([window] { return window->windowHandle() && window->windowHandle()->isExposed(); }, 10000))
        fail(u"%1 was never shown"_s.arg(window->objectName()));
    settle(1500);
    const QPixmap picture = window->screen()->grabWindow(window->winId());
    if (picture.isNull())
        fail(u"the screen gave no picture of %1"_s.arg(window->objectName()));
    // Written beside its name and renamed over it only when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit())
        fail(u"cannot write %1"_s.arg(path));
    std::printf("screenshots: %s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
    std::fflush(stdout);
}

QPushButton* button(QWidget* window, const QString& name)
{
    auto* found = window->findChild<QPushButton*>(name);
    if (!found)
        fail(u"%1 has no button %2"_s.arg(window->objectName(), name));
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(u"Lintbay"_s);
    QCoreApplication::setOrganizationName(u"Lintbay"_s);
    QApplication::setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lintbay-screenshots FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists())
        fail(u"%1 is not a folder"_s.arg(out.path()));

    fakeweb::FakeWeb web;
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(u"no temporary folder"_s);
    SettingsStore settings(dir.filePath(u"Lintbay.ini"_s));
    IniRegistry registry(dir.filePath(u"registry.ini"_s));
    settings.set(keys::kSettings, keys::kSearchEngine, web.address());
    settings.set(keys::kSettings, keys::kDefaultSavePath,
                 QDir::toNativeSeparators(dir.filePath(u"文档"_s)) + QDir::separator());
    settings.set(u"fWebSearch"_s, u"Text1"_s, u"年度报告\r\n环境监测"_s);
    settings.set(u"fWebSearch"_s, u"combo1"_s, 0); // no page delay
    AppContext app(settings, registry);
    GuiContext gui(app, CreateBrowserProfile(&application, dir.filePath(u"browser"_s)));
    gui.journalPath = dir.filePath(u"download-journal.sqlite"_s);
    gui.pageSettleMs = 200;
    QStringList messages;
    SetMessageSink([&](MessageIcon, const QString& text) {
        messages << text;
        return true;
    });
    // The save folder is asked for when the batch starts; it is confirmed as it stands.
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, &confirm, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            if (auto* ok = dialog->findChild<QPushButton*>(u"Command2"_s))
                ok->click();
    });
    confirm.start(100);

    auto* cover = new fCover(gui);
    gui.cover = cover;
    cover->endProgram = [] {};
    cover->load();
    if (!waitUntil([cover] { return button(cover, u"Command1"_s)->isEnabled(); }, 10000))
        fail(u"the start-up window never got ready"_s);
    shoot(cover, {}, out.filePath(u"cover.png"_s));

    button(cover, u"Command1"_s)->click();
    fWebSearch* search = gui.search;
    if (!search)
        fail(u"the search window did not open"_s);
    for (const QString& name : {u"Check9"_s, u"Check10"_s, u"Check11"_s})
        if (auto* box = search->findChild<QCheckBox*>(name))
            box->setChecked(false); // PDF and Word
    button(search, u"Command1"_s)->click(); // returns when the batch has walked every query
    if (search->results()->count() == 0)
        fail(u"the batch search found nothing: %1"_s.arg(messages.join(u" / "_s)));
    // The batch leaves the browser on the engine's home page; the picture shows a result page in it.
    const QUrl resultPage = web.searchUrl(u"年度报告"_s, u"pdf"_s);
    search->browser()->navigate(resultPage);
    if (!waitUntil([&] { return search->browser()->url() == resultPage && !search->browser()->isBusy(); }, 30000))
        fail(u"the result page did not load"_s);
    shoot(search, {1180, 760}, out.filePath(u"search.png"_s));

    button(search, u"Command2"_s)->click(); // every row to the download list
    fFileDownload* downloads = gui.download;
    if (!downloads)
        fail(u"the download window did not open"_s);
    DownloadListModel* list = downloads->list();
    button(downloads, u"Command4"_s)->click();
    if (!waitUntil([&] { return 检测是否下载列表完毕(*list) && downloads->CountTransferSlots() == 1; }, 120000))
        fail(u"the downloads did not finish"_s);
    shoot(downloads, {1180, 700}, out.filePath(u"download.png"_s));

    confirm.stop();
    downloads->close();
    search->close();
    delete gui.download;
    delete gui.search;
    delete cover;
    SetMessageSink({});
    return 0;
}
