#include "FakeWeb.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/Scheduler.h"
#include "download/TypeDetection.h"
#include "download/fFileDownload.h"
#include "options/IniRegistry.h"
#include "search/ResultListModel.h"
#include "search/fWebSearch.h"
#include "util/Messages.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::fakeweb;

// The demo's road: a batch search in the embedded engine, the hand-over, the downloads, and every
// file on disk under its name with the type its bytes show.
class TestDownloadEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void searchHandOverDownload()
    {
        FakeWeb web;
        QTemporaryDir dir;
        const QString saveFolder = QDir::toNativeSeparators(dir.filePath(u"docs"_s)) + QDir::separator();
        SettingsStore settings(dir.filePath(u"Lintbay.ini"_s));
        IniRegistry registry(dir.filePath(u"registry.ini"_s));
        settings.set(keys::kSettings, keys::kSearchEngine, web.address());
        settings.set(keys::kSettings, keys::kDefaultSavePath, saveFolder);
        settings.set(u"fWebSearch"_s, u"Text1"_s, u"pages2 report"_s);
        settings.set(u"fWebSearch"_s, u"combo1"_s, 0);
        AppContext app(settings, registry);
        GuiContext gui(app, new QWebEngineProfile(this));
        gui.pageSettleMs = 100;
        QStringList messages;
        SetMessageSink([&](MessageIcon, const QString& text) {
            messages << text;
            return true;
        });
        // The batch asks for the save folder; it is confirmed as it stands.
        QTimer confirm;
        connect(&confirm, &QTimer::timeout, &confirm, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                if (auto* ok = dialog->findChild<QPushButton*>(u"Command2"_s))
                    ok->click();
        });
        confirm.start(20);

        auto* cover = new fCover(gui);
        gui.cover = cover;
        cover->endProgram = [] {};
        cover->load();
        QTRY_VERIFY(cover->findChild<QPushButton*>(u"Command1"_s)->isEnabled());
        cover->findChild<QPushButton*>(u"Command1"_s)->click();
        fWebSearch* search = gui.search;
        for (const QString& name : {u"Check9"_s, u"Check10"_s, u"Check11"_s})
            search->findChild<QCheckBox*>(name)->setChecked(false); // pdf and doc
        search->findChild<QPushButton*>(u"Command1"_s)->click();
        const int found = search->results()->count();
        QVERIFY(found > 10);

        search->findChild<QPushButton*>(u"Command2"_s)->click(); // every row
        fFileDownload* downloads = gui.download;
        QVERIFY(downloads);
        DownloadListModel* list = downloads->list();
        QCOMPARE(list->count(), found);
        downloads->findChild<QPushButton*>(u"Command4"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(检测是否下载列表完毕(*list) && downloads->CountTransferSlots() == 1, 120000);

        // Downloaded files get the permissions of any file the user creates.
        QFile reference(dir.filePath(u"reference"_s));
        QVERIFY(reference.open(QIODevice::WriteOnly));
        reference.close();
        QSet<QString> expectedFiles;
        for (const DownloadItem& item : list->rows()) {
            QCOMPARE(QFileInfo(item.filePath()).permissions(), QFileInfo(reference).permissions());
            QVERIFY2(item.state == DownloadItemState::Done, qPrintable(item.key + u' ' + item.size));
            QCOMPARE(item.progress, u"100%"_s);
            QVERIFY2(QFileInfo(item.filePath()).isFile(), qPrintable(item.filePath()));
            const QString detected = 打开文件判断文件类型(item.filePath());
            if (!detected.isEmpty())
                QCOMPARE(item.type.toLower(), detected.toLower());
            expectedFiles.insert(QFileInfo(item.filePath()).fileName());
        }
        // Nothing else in the folder: no temporary or half-written files.
        const QStringList onDisk = QDir(saveFolder).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(QSet<QString>(onDisk.cbegin(), onDisk.cend()), expectedFiles);
        QVERIFY(messages.isEmpty());

        confirm.stop();
        QVERIFY(downloads->close());
        QVERIFY(search->close());
        delete gui.download;
        delete gui.search;
        delete cover;
        SetMessageSink({});
    }
};

QTEST_MAIN(TestDownloadEndToEnd)
#include "tst_download_e2e.moc"
