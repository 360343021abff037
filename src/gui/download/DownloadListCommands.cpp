#include "DownloadListCommands.h"
#include "ui_fFileDownload.h"

#include "app/AboutBox.h"
#include "app/GuiContext.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/FileActions.h"
#include "download/UrlReplaceDialog.h"
#include "download/fFileDownload.h"
#include "options/fOption.h"
#include "tools/fIEcache.h"
#include "util/FileDialogs.h"
#include "util/ListViewHelpers.h"
#include "util/Messages.h"
#include "util/RunBeside.h"
#include "util/ShellHelpers.h"
#include "util/TextFile.h"
#include "util/Wait.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kFileWalkSequence = u"file walk"_s;
} // namespace

DownloadListCommands::DownloadListCommands(Ui::fFileDownload& ui, DownloadSession& session, GuiContext& context,
                                           fFileDownload& window)
    : QObject(&window), ui(ui), m_session(session), m_context(context), m_window(window)
{
    // Rows: double-click opens the file or queues a failed row again; the current row's file path
    // shows in panel 2.
    connect(ui.ListView3, &QAbstractItemView::doubleClicked, this,
            [this] { perform(OpenOrRetry(m_session.list(), m_window.currentRow())); });
    // A click, also on the row that is current already (a file may have appeared since).
    connect(ui.ListView3, &QAbstractItemView::clicked, this,
            [this] { m_window.setStatusPanel(2, ShowRowPath(m_session.list(), m_window.currentRow())); });
    connect(ui.ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { refuse(SortByColumn(m_session.list(), column, m_session.activity()).refusal); });
    connect(ui.ListView3, &QWidget::customContextMenuRequested, this, &DownloadListCommands::showListMenu);
    // The same menu opens from the menu bar and from the list: its entries follow the state either way.
    connect(ui.menu列表操作, &QMenu::aboutToShow, this, &DownloadListCommands::enableListMenu);
    wireHeaderMenu();
    wireListMenu();
    wireFileMenus();
}

bool DownloadListCommands::refuse(QStringView refusal, bool errorIcon)
{
    if (refusal.isEmpty())
        return false;
    if (errorIcon)
        ShowError(&m_window, refusal.toString());
    else
        ShowInfo(&m_window, refusal.toString());
    return true;
}

void DownloadListCommands::runHidden(const std::function<void()>& work)
{
    // The list is not repainted row by row while many rows change.
    ui.ListView3->setUpdatesEnabled(false);
    work();
    ui.ListView3->setUpdatesEnabled(true);
}

void DownloadListCommands::removeRows(const std::function<ListOpResult()>& remove)
{
    ListOpResult result;
    runHidden([&] { result = remove(); });
    if (refuse(result.refusal))
        return;
    m_window.UpdateCountLabel();
}

void DownloadListCommands::requeue(RequeueRule rule)
{
    double limit = 0;
    if (rule == RequeueRule::SmallerThan) {
        const auto number = parseSizeAnswer(InputBox(&m_window, kSizeRulePrompt.toString()));
        if (!number)
            return;
        limit = *number;
    }
    if (!pumpEventsFor(this))
        return;
    // Taken after the events: a sort that ended meanwhile has moved the rows.
    const QList<int> selected = m_window.selectedRows();
    runHidden([&] { m_session.scheduler().requeue(rule, selected, limit); });
}

void DownloadListCommands::exportNames(bool unfinishedOnly)
{
    if (m_session.list().isEmpty())
        return;
    const QString path = GetSaveFileName(&m_window, kExportFilter.toString(), u"txt"_s);
    if (path.isEmpty())
        return;
    const bool withReasons = !ui.ListView3->isColumnHidden(DownloadListModel::ReasonColumn);
    // The lines are taken now; encoding and writing a long list happen beside the window, which
    // shows the error when the file could not be written.
    runBeside(
        this,
        [path, lines = exportNameLines(m_session.list(), unfinishedOnly, withReasons)] {
            QString error;
            if (writeTextFile(path, lines, &error))
                return QString();
            return error.isEmpty() ? path : error;
        },
        [this](const QString& error) {
            if (!error.isEmpty())
                ShowError(&m_window, error);
        });
}

void DownloadListCommands::walkFiles(const std::function<void()>& walk)
{
    const SequenceGuard running(m_window.sequences(), kFileWalkSequence);
    if (!running) {
        ShowError(&m_window, kStillWorkingText);
        return;
    }
    const QPointer<DownloadListCommands> self(this);
    if (!pumpEventsFor(this))
        return;
    // The walk lets events run between rows; the list guards itself, and the view is left alone
    // when the window has gone meanwhile.
    ui.ListView3->setUpdatesEnabled(false);
    walk();
    if (self)
        ui.ListView3->setUpdatesEnabled(true);
}

void DownloadListCommands::wireListMenu()
{
    DownloadListModel& list = m_session.list();
    connect(ui.menu全选专利列表, &QAction::triggered, ui.ListView3, &QTableView::selectAll);
    connect(ui.menu全不选, &QAction::triggered, ui.ListView3, &QTableView::clearSelection);
    connect(ui.menu随机排序列表, &QAction::triggered, this, [this, &list] {
        ListOpResult result;
        runHidden([&] { result = ShuffleList(list, m_session.activity()); });
        if (!refuse(result.refusal))
            ShowInfo(&m_window, kShuffleDoneText.toString());
    });
    connect(ui.menu自动列宽, &QAction::triggered, this, [this] {
        AutoSizeColumns(ui.ListView3);
        SetListViewStripes(ui.ListView3);
    });

    const std::pair<QAction*, RequeueRule> requeues[] = {
        {ui.menu重新下载选中项, RequeueRule::Selected},
        {ui.menu重新下载出错项, RequeueRule::Failed},
        {ui.menu重新下载文件类型为HTM和HTML项, RequeueRule::WebPages},
        {ui.menu重新下载出错项和网页项, RequeueRule::FailedAndWebPages},
        {ui.menu重新下载文件大小小于指定数字的项, RequeueRule::SmallerThan}};
    for (const auto& [action, rule] : requeues)
        connect(action, &QAction::triggered, this, [this, rule = rule] { requeue(rule); });

    connect(ui.menu清除选中项, &QAction::triggered, this, [this, &list] {
        const QList<int> rows = m_window.selectedRows();
        removeRows([&] { return removeSelectedRows(list, rows, m_session.activity()); });
    });
    connect(ui.menu清除全部出错项, &QAction::triggered, this,
            [this, &list] { removeRows([&] { return removeFailedRows(list, m_session.activity()); }); });
    connect(ui.menu清除完成项, &QAction::triggered, this,
            [this, &list] { removeRows([&] { return removeDoneRows(list, m_session.activity()); }); });
    connect(ui.menu清空, &QAction::triggered, this, [this, &list] {
        if (refuse(refusalText(ListOperation::ClearAll, m_session.activity())))
            return;
        const QPointer<DownloadListCommands> self(this);
        if (!AskYesNoPlain(&m_window, kClearListQuestion.toString()) || !self)
            return;
        removeRows([&] { return clearList(list, m_session.activity()); });
    });

    connect(ui.menu删除网页类型文件项, &QAction::triggered, this,
            [this, &list] { walkFiles([&] { deletePageFiles(list, &m_session.files()); }); });
    connect(ui.menu删除出错项, &QAction::triggered, this,
            [this, &list] { walkFiles([&] { deleteFailedFiles(list, &m_session.files()); }); });
    connect(ui.menu取消下载选中项, &QAction::triggered, this, [this, &list] {
        const QList<int> rows = m_window.selectedRows();
        ListOpResult result;
        runHidden([&] { result = cancelSelectedRows(list, rows, m_session.activity()); });
        refuse(result.refusal, true);
    });
    connect(ui.menu复制名称, &QAction::triggered, this, [this, &list] {
        if (const auto name = copyName(list, m_window.currentRow())) {
            QGuiApplication::clipboard()->clear();
            QGuiApplication::clipboard()->setText(*name);
        }
    });
    connect(ui.menu批量替换网址, &QAction::triggered, this,
            [this, &list] { execModal(new UrlReplace(list, &m_window)); });
    connect(ui.menu打开下载文件, &QAction::triggered, this,
            [this, &list] { perform(OpenDownloadedFile(list, m_window.currentRow())); });
    connect(ui.menu打开文件所在文件夹, &QAction::triggered, this,
            [this, &list] { perform(OpenContainingFolder(list, m_window.currentRow())); });
    connect(ui.menu用记事本打开文件, &QAction::triggered, this,
            [this, &list] { perform(OpenInTextEditor(list, m_window.currentRow())); });
    connect(ui.menu打开网址, &QAction::triggered, this,
            [this, &list] { perform(OpenRowAddress(list, m_window.currentRow())); });
    connect(ui.menu导出全部名称, &QAction::triggered, this, [this] { exportNames(false); });
    connect(ui.menu导出未完成项名称, &QAction::triggered, this, [this] { exportNames(true); });
    connect(ui.menu退出本下载窗口, &QAction::triggered, &m_window, &QWidget::close);
}

void DownloadListCommands::wireFileMenus()
{
    DownloadListModel& list = m_session.list();
    connect(ui.menu检查文件是否存在, &QAction::triggered, this, [this, &list] { walkFiles([&] { CheckFilesExist(list); }); });
    connect(ui.menu检查并纠正磁盘文件类型, &QAction::triggered, this, [this, &list] {
        TypeCorrectionResult result;
        const QPointer<DownloadListCommands> self(this);
        walkFiles([&] { result = CorrectFileTypes(list, m_session.activity()); });
        if (self)
            perform(FileAction{FileActionKind::None, QString(), result.message});
    });
    connect(ui.menu打开文件判断类型, &QAction::triggered, this, [this] {
        const QString chosen = GetOpenFileName(&m_window, kChooseAnyFileFilter.toString(), QString());
        perform(FileAction{FileActionKind::None, QString(), IdentifyChosenFile(chosen)});
    });
    connect(ui.menu资料检索分析窗口, &QAction::triggered, this, [this] { m_context.showSearchWindow(); });
    connect(ui.menu设置, &QAction::triggered, this, [this] { fOption::showModal(m_context, &m_window); });
    connect(ui.menu关于, &QAction::triggered, this, [this] { AboutBox::showModal(&m_window, m_context); });
    connect(ui.menu清空IE浏览器缓存, &QAction::triggered, this, [this] { ClearBrowserCache(m_context, &m_window); });
}

void DownloadListCommands::perform(const FileAction& action)
{
    if (!action.message.isEmpty()) {
        if (action.message.icon == FileMessageIcon::Error)
            ShowError(&m_window, action.message.text);
        else
            ShowInfo(&m_window, action.message.text);
    }
    switch (action.kind) {
    case FileActionKind::OpenFile:
        OpenFile(action.path, &m_window);
        break;
    case FileActionKind::ShowInFolder:
        if (!ShowInFolder(action.path))
            ShowError(&m_window, kOpenFailedText.toString());
        break;
    case FileActionKind::OpenFolder:
        QDesktopServices::openUrl(QUrl::fromLocalFile(action.path));
        break;
    case FileActionKind::OpenInTextEditor:
        if (!OpenWithTextEditor(action.path))
            ShowError(&m_window, kOpenFailedText.toString());
        break;
    case FileActionKind::OpenInWebBrowser:
        if (!OpenInWebBrowser(action.path))
            ShowError(&m_window, kOpenFailedText.toString());
        break;
    case FileActionKind::Requeued:
    case FileActionKind::None:
        break;
    }
}

void DownloadListCommands::wireHeaderMenu()
{
    QHeaderView* header = ui.ListView3->horizontalHeader();
    auto* menu = new QMenu(&m_window);
    menu->setObjectName(u"menu列标题"_s);
    QAction* reasons = menu->addAction(u"原因"_s);
    reasons->setObjectName(u"menu显示原因"_s);
    reasons->setCheckable(true);
    reasons->setChecked(!ui.ListView3->isColumnHidden(DownloadListModel::ReasonColumn));
    connect(reasons, &QAction::toggled, this,
            [this](bool on) { ui.ListView3->setColumnHidden(DownloadListModel::ReasonColumn, !on); });
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this,
            [header, menu](const QPoint& pos) { menu->popup(header->viewport()->mapToGlobal(pos)); });
}

void DownloadListCommands::showListMenu(const QPoint& pos)
{
    ui.menu列表操作->popup(ui.ListView3->viewport()->mapToGlobal(pos));
}

void DownloadListCommands::enableListMenu()
{
    const bool downloading = m_session.scheduler().IsDownloading();
    ui.menu全选专利列表->setEnabled(!downloading);
    ui.menu清除->setEnabled(!downloading);
    ui.menu清空->setEnabled(!downloading);
    ui.menu停止下载->setEnabled(downloading);
}

} // namespace lintbay
