#include "fIEcache.h"
#include "ui_fIEcache.h"

#include "app/GuiContext.h"
#include "tools/CacheViewer.h"
#include "tools/Form_Copy_Move.h"
#include "util/ListViewHelpers.h"
#include "util/Messages.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QWebEngineProfile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lintbay {

fIEcache::fIEcache(GuiContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), ui(std::make_unique<Ui::fIEcache>()),
      m_viewer(std::make_unique<CacheViewer>())
{
    ui->setupUi(this);
    setObjectName(u"fIEcache"_s);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setWindowTitle(u"IE浏览器Cookie 缓存和历史列表-"_s + QCoreApplication::applicationName());

    ui->ListView1->setModel(m_viewer->list());
    ui->ListView2->setModel(m_viewer->profiles());
    ui->ListView3->setModel(m_viewer->subfolders());
    for (QTableView* view : {ui->ListView1, ui->ListView2, ui->ListView3}) {
        view->verticalHeader()->hide();
        view->horizontalHeader()->setStretchLastSection(true);
        SetListViewStripes(view);
    }
    ui->ListView1->horizontalHeader()->setSectionsClickable(true);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 1);

    connect(ui->Command1, &QPushButton::clicked, this, &fIEcache::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &fIEcache::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &fIEcache::Command3_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->Command6, &QPushButton::clicked, this, &fIEcache::Command6_Click);
    connect(ui->Command7, &QPushButton::clicked, this, &fIEcache::Command7_Click);
    connect(ui->ListView1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &fIEcache::ListView1_ColumnClick);
}

fIEcache::~fIEcache() = default;

void fIEcache::showModal(GuiContext& context, QWidget* parent)
{
    execModal(new fIEcache(context, parent));
}

void fIEcache::showListed()
{
    ui->Label1->setText(m_viewer->countText());
    AutoSizeColumns(ui->ListView1);
    AutoSizeColumns(ui->ListView2);
    AutoSizeColumns(ui->ListView3);
}

QList<int> fIEcache::selectedRows() const
{
    return SelectedRowNumbers(ui->ListView1->selectionModel());
}

void fIEcache::Command1_Click()
{
    m_viewer->showMyCache();
    showListed();
}

void fIEcache::Command7_Click()
{
    m_viewer->showAllUsersCache();
    showListed();
}

void fIEcache::Command2_Click()
{
    m_viewer->deleteRows(selectedRows());
    showListed();
}

void fIEcache::Command3_Click()
{
    m_viewer->deleteAll();
    showListed();
}

void fIEcache::Command6_Click()
{
    Form_Copy_Move::showModal(m_context, m_viewer->filePaths(selectedRows()), this);
}

void fIEcache::ListView1_ColumnClick(int column)
{
    // Sorted once: rows listed later are not kept in order, so the header shows no lasting indicator.
    m_viewer->list()->sortByColumn(column);
}

void ClearBrowserCache(GuiContext& context, QWidget* parent, bool showMessage)
{
    ClearAllCaches(CacheLocations::current());
    // What the pages of the search window and the login panel left: the engine clears it in the
    // background, and the message may come before it has finished.
    if (QWebEngineProfile* profile = context.profile())
        profile->clearHttpCache();
    if (showMessage)
        ShowInfo(parent, u"IE缓存清空完毕！"_s);
}

} // namespace lintbay
