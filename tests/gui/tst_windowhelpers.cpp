#include "app/SettingsStore.h"
#include "download/DownloadListView.h"
#include "util/FolderHistory.h"
#include "util/ListViewHelpers.h"
#include "util/Messages.h"
#include "util/ShellHelpers.h"
#include "util/SoundPlayer.h"
#include "util/WindowHelpers.h"

#include "PaintLog.h"
#include "TestData.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScreen>
#include <QSoundEffect>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace lintbay;
using lintbay::test::PaintLog;
using lintbay::test::writeFile;

namespace {

// A shell script standing in for a program on a test PATH.
bool writeStub(const QString& folder, const QString& name, const QByteArray& body)
{
    const QString path = folder + u'/' + name;
    return writeFile(path, "#!/bin/sh\n" + body) &&
           QFile::setPermissions(path,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// What the stubs wrote to their log.
QString readLog(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// Stands in for the desktop's file manager on the bus.
class FileManagerStub : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        Q_UNUSED(startupId);
        shown += uris;
    }
};

// Receives what would go to the desktop's default applications.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// A session bus of the test's own, so that no file manager of the machine is involved. Started
// before the application, which reads the bus address once.
class PrivateBus
{
public:
    PrivateBus()
    {
#ifdef Q_OS_UNIX
        if (!m_dir.isValid())
            return;
        const QString config = m_dir.filePath(u"bus.conf"_s);
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:tmpdir=" +
                   QFile::encodeName(m_dir.path()) +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        // Run as a child of the test, so that it can be stopped and reaped by its own id.
        const QByteArray configArg = "--config-file=" + QFile::encodeName(config);
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0)
                dup2(devNull, STDERR_FILENO);
            execlp("dbus-daemon", "dbus-daemon", configArg.constData(), "--nofork", "--print-address=1",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        if (pid < 0) {
            close(fds[0]);
            return;
        }
        m_pid = pid;
        QByteArray address;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            address += c;
        close(fds[0]);
        if (address.isEmpty())
            return;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_ok = true;
#endif
    }
    ~PrivateBus()
    {
#ifdef Q_OS_UNIX
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
#endif
    }
    bool ok() const
    {
        return m_ok;
    }

private:
    QTemporaryDir m_dir;
    int m_pid = 0;
    bool m_ok = false;
};

bool g_privateBus = false;

} // namespace

class TestWindowHelpers : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    UrlRecorder m_urls;
    QList<QString> m_errors;

    QString createFile(const QString& name)
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write("x") == 1 ? f.fileName() : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        SetProgramDataFolder(m_dir.filePath(u"program"_s));
        QDesktopServices::setUrlHandler(u"file"_s, &m_urls, "open");
        SetMessageSink([this](MessageIcon icon, const QString& text) {
            if (icon == MessageIcon::Error)
                m_errors.append(text);
            return true;
        });
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(u"file"_s);
        SetMessageSink({});
        SetProgramDataFolder({});
    }
    void init()
    {
        m_urls.opened.clear();
        m_errors.clear();
    }

    void restorePlacement_data()
    {
        const QString here = ScreenResolutionText();
        QTest::addColumn<QString>("resolution"); // empty: never saved
        QTest::addColumn<QList<int>>("twips");   // top, left, width, height; missing keys use defaults
        QTest::addColumn<bool>("maximized");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("as saved") << here << QList<int>{1500, 3000, 9000, 6000} << false
                                  << QRect(200, 100, 600, 400);
        QTest::newRow("lower bounds")
            << here << QList<int>{-300, -15, 2000, 1000} << false << QRect(0, 0, 267, 200);
        QTest::newRow("defaults") << here << QList<int>{} << false << QRect(7, 7, 1000, 667);
        QTest::newRow("beside every screen") << here << QList<int>{1500, 150000, 9000, 6000} << true << QRect();
        QTest::newRow("largest number") << here << QList<int>{2147483647, 0, 9000, 6000} << true << QRect();
        QTest::newRow("saved maximized") << u"0*0"_s << QList<int>{1500, 3000, 9000, 6000} << true << QRect();
        QTest::newRow("other resolution")
            << u"1*1"_s << QList<int>{1500, 3000, 9000, 6000} << true << QRect();
        QTest::newRow("never saved") << QString() << QList<int>{} << true << QRect();
    }
    void restorePlacement()
    {
        QFETCH(QString, resolution);
        QFETCH(QList<int>, twips);
        QFETCH(bool, maximized);
        QFETCH(QRect, geometry);
        SettingsStore settings(m_dir.filePath(u"%1.ini"_s.arg(QString::fromUtf8(QTest::currentDataTag()))));
        const QString section = u"fWindow"_s;
        if (!resolution.isEmpty())
            settings.set(section, placement::kResolution, resolution);
        const QStringList keys{placement::kTop, placement::kLeft, placement::kWidth, placement::kHeight};
        for (int i = 0; i < twips.size(); ++i)
            settings.set(section, keys[i], twips[i]);

        QWidget window;
        window.setObjectName(section);
        window.setWindowState(Qt::WindowMinimized);
        RestoreWindowPlacement(&window, settings);
        QCOMPARE(bool(window.windowState() & Qt::WindowMaximized), maximized);
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));
        if (!maximized)
            QCOMPARE(QRect(window.pos(), window.size()), geometry);
    }

    void savePlacementRoundTrip()
    {
        SettingsStore settings(m_dir.filePath(u"roundtrip.ini"_s));
        QWidget window;
        window.setObjectName(u"fFileDownload"_s);
        window.move(123, 45);
        window.resize(640, 480);
        SaveWindowPlacement(&window, settings);
        QCOMPARE(settings.get(u"fFileDownload"_s, placement::kResolution), ScreenResolutionText());
        QCOMPARE(settings.getInt(u"fFileDownload"_s, placement::kWidth, 0), 640 * 15);

        QWidget again;
        again.setObjectName(u"fFileDownload"_s);
        RestoreWindowPlacement(&again, settings);
        QCOMPARE(again.pos(), QPoint(123, 45));
        QCOMPARE(again.size(), QSize(640, 480));
        QVERIFY(!again.isMaximized());

        // A maximized window opens maximized next time, whatever was saved before.
        window.setWindowState(Qt::WindowMaximized);
        SaveWindowPlacement(&window, settings);
        QCOMPARE(settings.get(u"fFileDownload"_s, placement::kResolution), placement::kMaximized);
        QWidget third;
        third.setObjectName(u"fFileDownload"_s);
        RestoreWindowPlacement(&third, settings);
        QVERIFY(third.windowState() & Qt::WindowMaximized);
    }

    void fitComboDropWidth()
    {
        const QString longest = u"/home/user/下载/一个相当长的文件夹名称/documents"_s;
        QComboBox combo;
        combo.addItem(longest);
        for (int i = 0; i < 4; ++i)
            combo.addItem(u"/a%1"_s.arg(i));
        FitComboDropWidth(&combo);
        const int advance = QFontMetrics(combo.font()).horizontalAdvance(longest);
        const int few = combo.view()->minimumWidth();
        QVERIFY2(few >= advance + 7, qPrintable(u"%1 < %2"_s.arg(few).arg(advance + 7)));

        // A list long enough to scroll needs room for the scroll bar beside the longest entry.
        for (int i = 4; i < 12; ++i)
            combo.addItem(u"/a%1"_s.arg(i));
        FitComboDropWidth(&combo);
        const int extent = combo.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, combo.view());
        QCOMPARE(combo.view()->minimumWidth(), few + extent);

        // The drop-down really opens that wide, though the box itself is narrow.
        combo.resize(80, combo.sizeHint().height());
        combo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&combo));
        combo.showPopup();
        QTRY_VERIFY(combo.view()->isVisible());
        QVERIFY(combo.view()->width() >= advance + 7 + extent);
        combo.hidePopup();

        // Never wider than the room left on the screen.
        combo.addItem(QString(5000, u'W'));
        FitComboDropWidth(&combo);
        QVERIFY(combo.view()->minimumWidth() <= combo.screen()->availableGeometry().width());
        QVERIFY(combo.view()->minimumWidth() > 0);
    }

    void openFile()
    {
        QVERIFY(!OpenFile(m_dir.filePath(u"missing.pdf"_s)));
        QCOMPARE(m_errors, QList<QString>{u"文件不存在！"_s});
        QVERIFY(m_urls.opened.isEmpty());

        const QString file = createFile(u"报告 2020.pdf"_s);
        QVERIFY(OpenFile(file));
        QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(file)});
        QCOMPARE(m_errors.size(), 1);

        // What the desktop would run, as a server named it, is shown in its folder instead.
        for (const QString& name : {u"setup.exe"_s, u"tool.jar"_s, u"start.desktop"_s}) {
            m_urls.opened.clear();
            QVERIFY(!OpenFile(createFile(name)));
            QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(m_dir.path())});
        }
        QCOMPARE(m_errors.size(), 4);
    }

    void showInFolder()
    {
        QVERIFY(!ShowInFolder(m_dir.filePath(u"missing.pdf"_s)));
        QVERIFY(m_urls.opened.isEmpty());

        // No file manager answers on the bus: its folder is opened instead.
        const QString file = createFile(u"文档 1.doc"_s);
        QVERIFY(ShowInFolder(u"  "_s + file + u" "_s));
        QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(m_dir.path())});
        QVERIFY(m_errors.isEmpty());

        if (!g_privateBus)
            QSKIP("no message bus for the file manager request");
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());
        FileManagerStub stub;
        QVERIFY(
            bus.registerObject(u"/org/freedesktop/FileManager1"_s, &stub, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService(u"org.freedesktop.FileManager1"_s));
        m_urls.opened.clear();
        QVERIFY(ShowInFolder(file));
        QCOMPARE(stub.shown, QStringList{QUrl::fromLocalFile(file).toString()});
        QVERIFY(m_urls.opened.isEmpty());
        bus.unregisterService(u"org.freedesktop.FileManager1"_s);
        bus.unregisterObject(u"/org/freedesktop/FileManager1"_s);
    }

    // The widest cell decides, wherever it lies in a long list; the header text is the least.
    void autoSizeColumnsFitsTheWidestCell()
    {
        QStandardItemModel model(3000, 2);
        model.setHorizontalHeaderLabels({u"URL"_s, u"A rather long header text"_s});
        for (int row = 0; row < model.rowCount(); ++row) {
            model.setItem(row, 0, new QStandardItem(u"http://h/%1"_s.arg(row)));
            model.setItem(row, 1, new QStandardItem(u"x"_s));
        }
        const QString widest = u"http://h/文档/a-much-longer-address-than-the-others.pdf"_s;
        model.item(2990, 0)->setText(widest);
        QTableView view;
        view.setModel(&model);
        view.resize(300, 200);
        view.show();
        AutoSizeColumns(&view);
        const QFontMetrics metrics(view.font());
        QVERIFY(view.columnWidth(0) >= metrics.horizontalAdvance(widest));
        QVERIFY(view.columnWidth(0) < metrics.horizontalAdvance(widest) + 40);
        QVERIFY(view.columnWidth(1) >= view.horizontalHeader()->sectionSizeHint(1));
    }

    // Rows that change every few milliseconds are repainted at most once per 100 ms each, also when
    // a change comes between a repaint's request and its paint.
    void downloadListRepaintsARowAtMostEvery100Ms()
    {
        QStandardItemModel model(6, 3);
        DownloadListView view;
        view.setModel(&model);
        view.resize(500, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::qWait(150);

        QElapsedTimer clock;
        clock.start();
        PaintLog log(&view, &clock);
        // Each row changes from a timer of its own, through the queue of posted events as a
        // transfer's progress comes: a change may wait there when a repaint is asked for.
        std::vector<std::unique_ptr<QTimer>> changes;
        for (int row = 0; row < 6; ++row) {
            auto& timer = changes.emplace_back(std::make_unique<QTimer>());
            timer->setTimerType(Qt::PreciseTimer);
            connect(timer.get(), &QTimer::timeout, this, [&model, row, tick = 0]() mutable {
                QMetaObject::invokeMethod(
                    &model, [&model, row, value = ++tick] { model.setData(model.index(row, 1), value); },
                    Qt::QueuedConnection);
            });
            timer->start(2);
        }
        QTest::qWait(800);
        changes.clear();
        const qint64 shortest = log.worst().second;
        QVERIFY2(shortest >= 100, qPrintable(u"two paints of a row %1 ms apart"_s.arg(shortest)));
    }

    // The rows of a selection read from its ranges agree with Qt's own count: whole rows only, each
    // once; a new selection of rows replaces the old one.
    void selectedRowNumbers()
    {
        QStandardItemModel model(8, 3);
        QItemSelectionModel selection(&model);
        SelectOnlyRows(&selection, {6, 1, 2, 2, 4});
        QCOMPARE(SelectedRowNumbers(&selection), (QList<int>{1, 2, 4, 6}));
        SelectOnlyRows(&selection, {0, 3});
        // Row 5 in two pieces that cover it, row 7 in part only.
        selection.select(QItemSelection(model.index(5, 0), model.index(5, 1)), QItemSelectionModel::Select);
        selection.select(QItemSelection(model.index(5, 2), model.index(5, 2)), QItemSelectionModel::Select);
        selection.select(QItemSelection(model.index(7, 1), model.index(7, 2)), QItemSelectionModel::Select);
        QList<int> qt;
        for (const QModelIndex& index : selection.selectedRows())
            qt << index.row();
        std::sort(qt.begin(), qt.end());
        QCOMPARE(SelectedRowNumbers(&selection), qt);
        QCOMPARE(qt, (QList<int>{0, 3, 5}));
    }

    // The desktop's browser is started through its entry, by gtk-launch or else by gio, which wants
    // the entry's file; a launcher that fails leaves the next one its turn; only web addresses and
    // existing files reach a browser.
    void webBrowserLaunchers_data()
    {
        // Stubs on PATH: "gtk" (exits 0), "gtk-fails", "gtk-later" (leaves an application that writes
        // to its output after the launcher ended), "gio".
        QTest::addColumn<QString>("launchers");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("record"); // what the launcher that worked was given
        const QString url = u"http://example.test/a%20b.pdf"_s;
        QTest::newRow("gtk-launch") << u"gtk gio"_s << url << true << u"gtk-launch browser "_s + url;
        QTest::newRow("application outlives its launcher") << u"gtk-later"_s << url << true
                                                           << u"gtk-launch browser "_s + url;
        QTest::newRow("gio only") << u"gio"_s << url << true << u"gio launch {apps}/browser.desktop "_s + url;
        QTest::newRow("gtk-launch fails") << u"gtk-fails gio"_s << url << true
                                          << u"gio launch {apps}/browser.desktop "_s + url;
        QTest::newRow("script address") << u"gtk gio"_s << u"javascript:alert(1)"_s << false << QString();
        QTest::newRow("an option") << u"gtk gio"_s << u"--new-instance"_s << false << QString();
    }
    void webBrowserLaunchers()
    {
        QFETCH(QString, launchers);
        QFETCH(QString, target);
        QFETCH(bool, opened);
        QFETCH(QString, record);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString bin = m_dir.filePath(u"bin-"_s + tag);
        const QString apps = m_dir.filePath(u"data-"_s + tag + u"/applications"_s);
        const QString log = m_dir.filePath(u"launched-"_s + tag);
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(apps));
        QVERIFY(writeFile(apps + u"/browser.desktop"_s, "[Desktop Entry]\nType=Application\nExec=true %u\n"));
        const auto stub = [&](const QString& name, const QByteArray& body) {
            QVERIFY(writeStub(bin, name, body));
        };
        stub(u"xdg-mime"_s, "echo browser.desktop\n");
        const QByteArray append = " >> '" + QFile::encodeName(log) + "'\n";
        if (launchers.contains(u"gtk-fails"_s))
            stub(u"gtk-launch"_s, "exit 1\n");
        else if (launchers.contains(u"gtk-later"_s))
            stub(u"gtk-launch"_s, "(/bin/sleep 0.3; echo started; echo \"gtk-launch $*\"" + append.trimmed() + ") &\nexit 0\n");
        else if (launchers.contains(u"gtk"_s))
            stub(u"gtk-launch"_s, "echo \"gtk-launch $*\"" + append);
        if (launchers.contains(u"gio"_s))
            stub(u"gio"_s, "[ -f \"$2\" ] || exit 1\necho \"gio $*\"" + append);

        const QByteArray path = qgetenv("PATH");
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QByteArray browser = qgetenv("BROWSER");
        qputenv("PATH", QFile::encodeName(bin));
        qputenv("XDG_DATA_HOME", QFile::encodeName(QFileInfo(apps).path()));
        qunsetenv("BROWSER");
        QDesktopServices::setUrlHandler(u"http"_s, &m_urls, "open");
        const bool result = OpenInWebBrowser(target);
        QDesktopServices::unsetUrlHandler(u"http"_s);
        qputenv("PATH", path);
        qputenv("XDG_DATA_HOME", dataHome);
        if (!browser.isNull())
            qputenv("BROWSER", browser);

        QCOMPARE(result, opened);
        const auto launched = [&log] { return readLog(log); };
        if (!record.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(launched(), QString(record).replace(u"{apps}"_s, apps), 5000);
        QCOMPARE(launched(), QString(record).replace(u"{apps}"_s, apps));
        QVERIFY(m_urls.opened.isEmpty());
    }

    // A text editor opens the file whatever its type: the desktop's choice for plain text, else a
    // common editor on the path, and never the program of the file's own type.
    void textEditorLaunchers_data()
    {
        QTest::addColumn<QByteArray>("textDefault"); // what xdg-mime names for plain text
        QTest::addColumn<bool>("editorOnPath");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("record");
        QTest::newRow("desktop default")
            << QByteArray("editor.desktop") << true << true << u"gtk-launch editor {file}"_s;
        QTest::newRow("an editor on the path") << QByteArray() << true << true << u"mousepad {file}"_s;
        QTest::newRow("none") << QByteArray() << false << false << QString();
    }
    void textEditorLaunchers()
    {
        QFETCH(QByteArray, textDefault);
        QFETCH(bool, editorOnPath);
        QFETCH(bool, opened);
        QFETCH(QString, record);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString bin = m_dir.filePath(u"editor-bin-"_s + tag);
        const QString log = m_dir.filePath(u"editor-launched-"_s + tag);
        const QString file = m_dir.filePath(u"page-"_s + tag + u".htm"_s);
        QVERIFY(QDir().mkpath(bin) && writeFile(file, "<script>alert(1)</script>"));
        const QByteArray append = " >> '" + QFile::encodeName(log) + "'\n";
        const auto stub = [&](const QString& name, const QByteArray& body) {
            QVERIFY(writeStub(bin, name, body));
        };
        stub(u"xdg-mime"_s, "echo " + textDefault + "\n");
        stub(u"gtk-launch"_s, "echo \"gtk-launch $*\"" + append);
        if (editorOnPath)
            stub(u"mousepad"_s, "echo \"mousepad $*\"" + append);

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin));
        const bool result = OpenWithTextEditor(file);
        qputenv("PATH", path);

        QCOMPARE(result, opened);
        const auto launched = [&log] { return readLog(log); };
        const QString expected = QString(record).replace(u"{file}"_s, file);
        if (!expected.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(launched(), expected, 5000);
        QCOMPARE(launched(), expected);
        QVERIFY(m_urls.opened.isEmpty());
    }

    void soundResources_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("web page") << sounds::kWebPage;
        QTest::newRow("all done") << sounds::kAllDone;
        QTest::newRow("failed") << sounds::kFailed;
    }
    void soundResources()
    {
        QFETCH(int, id);
        QFile file(u":/sounds/%1.wav"_s.arg(id));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        QVERIFY(wav.size() >= 12 * 1024 && wav.size() <= 17 * 1024);
        QVERIFY(wav.startsWith("RIFF") && wav.mid(8, 8) == "WAVEfmt ");
        const auto u16 = [&wav](int at) { return quint8(wav[at]) | quint8(wav[at + 1]) << 8; };
        QCOMPARE(u16(20), 1);  // PCM
        QCOMPARE(u16(22), 1);  // mono
        QCOMPARE(u16(34), 16); // bits per sample
        // Qt's own reader accepts the file.
        QSoundEffect effect;
        effect.setSource(QUrl(u"qrc:/sounds/%1.wav"_s.arg(id)));
        QTRY_VERIFY(effect.status() == QSoundEffect::Ready || effect.status() == QSoundEffect::Error);
        QCOMPARE(effect.status(), QSoundEffect::Ready);
        // Written into the program's folder on first use, and played from there: a sound the user
        // put in its place stays. Without a sound device this plays nothing, and never fails.
        const QString written = SoundFilePath(id);
        QFile::remove(written);
        PlaySoundResource(id);
        QCOMPARE(QFileInfo(written).path(), m_dir.filePath(u"program"_s));
        QFile out(written);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), wav);
        out.close();
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("RIFF mine");
        out.close();
        PlaySoundResource(id);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("RIFF mine"));
    }

    void unknownSoundIgnored() { PlaySoundResource(104); }
};

int main(int argc, char** argv)
{
    PrivateBus bus;
    g_privateBus = bus.ok();
    QApplication app(argc, argv);
    TestWindowHelpers test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowhelpers.moc"
