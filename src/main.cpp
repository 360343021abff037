#include "app/BrowserProfile.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/ProgramLock.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "download/fFileDownload.h"
#include "search/fWebSearch.h"
#include "options/RegistryLayer.h"
#include "util/MemoryTuning.h"
#include "util/Messages.h"

#include "Version.h"

#include <QApplication>
#include <QIcon>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    lintbay::keepFreedMemoryForReuse();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Lintbay"_s);
    QCoreApplication::setOrganizationName(u"Lintbay"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(LINTBAY_VERSION_STRING));
    QApplication::setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    // Ties the windows to the installed menu entry, so desktops show its name and icon for them.
    QGuiApplication::setDesktopFileName(u"org.lintbay.Lintbay"_s);
    // The start-up window is hidden, not closed, while another window is open; the program ends
    // only when it is unloaded.
    QApplication::setQuitOnLastWindowClosed(false);

    lintbay::ProgramLock running(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    if (!running.claim()) {
        lintbay::ShowInfo(nullptr, u"Lintbay 已在运行。"_s);
        return 0;
    }

    lintbay::SettingsStore settings;
    const auto registry = lintbay::createSystemRegistry();
    lintbay::AppContext context(settings, *registry);
    QWebEngineProfile* profile = lintbay::CreateBrowserProfile(&app, lintbay::DefaultBrowserStorageFolder());
    lintbay::GuiContext gui(context, profile);

    auto* cover = new lintbay::fCover(gui);
    gui.cover = cover;
    cover->load();
    const int rc = QApplication::exec();
    delete gui.download;
    delete gui.search;
    delete cover;
    return rc;
}
