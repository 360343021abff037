#pragma once

#include "download/ListOperations.h"

#include <QObject>

#include <functional>

namespace Ui {
class fFileDownload;
}

namespace lintbay {

class DownloadSession;
class GuiContext;
class fFileDownload;
struct FileAction;

// The download window's list commands: the menus "列表操作(&D)" (also the list's right-click menu),
// "窗口(&W)", "工具(&T)" and "帮助(&H)", the header click that sorts, the double-click on a row and
// the current row's path in the status bar. The rules are in core; this wires them to the session's
// list and shows their messages. The walks over the files run as sequences of the window.
class DownloadListCommands : public QObject
{
    Q_OBJECT
public:
    DownloadListCommands(Ui::fFileDownload& ui, DownloadSession& session, GuiContext& context,
                         fFileDownload& window);

private:
    void wireListMenu();
    void wireFileMenus();
    void showListMenu(const QPoint& pos);
    void enableListMenu();
    // The header's menu: shows or hides the reason column.
    void wireHeaderMenu();
    bool refuse(QStringView refusal, bool errorIcon = false);
    void runHidden(const std::function<void()>& work);
    void removeRows(const std::function<ListOpResult()>& remove);
    void requeue(RequeueRule rule);
    // With the reasons when their column is shown.
    void exportNames(bool unfinishedOnly);
    // Runs a walk over the rows' files, which lets events run, as a sequence of the window.
    void walkFiles(const std::function<void()>& walk);
    void perform(const FileAction& action);

    Ui::fFileDownload& ui;
    DownloadSession& m_session;
    GuiContext& m_context;
    fFileDownload& m_window;
};

} // namespace lintbay
