#include "TestData.h"
#include "app/AppContext.h"
#include "app/ProgramLock.h"
#include "app/SettingsStore.h"
#include "options/BrowserEmulation.h"
#include "options/IniRegistry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <tuple>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestStartup : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString iniPath(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void firstStartDefaultsWriteNothing()
    {
        const QString ini = iniPath(u"first.ini"_s);
        SettingsStore settings(ini);
        IniRegistry registry(iniPath(u"first-registry.ini"_s));
        AppContext app(settings, registry);
        app.loadStartupValues();
        settings.sync();

        const ProgramSettings& v = app.settings();
        QCOMPARE(v.defaultSavePath(), QDir::toNativeSeparators(QDir::homePath() + u"/12345"_s));
        QCOMPARE(v.maxFileSizeMB(), 10.0);
        QCOMPARE(v.promptSavePathOnExtract(), 1);
        QCOMPARE(v.downloadMode(), DownloadMode::Parallel);
        QCOMPARE(v.namePolicy(), NamePolicy::Rename);
        QCOMPARE(v.proxy(), ProxySettings{});
        QVERIFY(v.osBitness() == u"64"_s || v.osBitness() == u"32"_s);
        QVERIFY(v.osDescription().endsWith(u"[%1位]"_s.arg(v.osBitness())));
        QCOMPARE(v.browserEmulationVersion(), u"IE默认"_s);
        QCOMPARE(app.searchEngine(), u"www.baidu.com"_s);
        QVERIFY2(!QFile::exists(ini), "loading must not write the settings file");
    }

    void storedValuesAndBadNumbers_data()
    {
        QTest::addColumn<QString>("maxSize");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<double>("expectedMax");
        QTest::addColumn<int>("expectedPrompt");
        QTest::newRow("numbers") << u"25.5"_s << u"0"_s << 25.5 << 0;
        QTest::newRow("not numbers") << u"abc"_s << u"x1"_s << 10.0 << 1;
        QTest::newRow("empty") << u""_s << u""_s << 10.0 << 1;
        QTest::newRow("rounded and padded") << u" 3 "_s << u"1.6"_s << 3.0 << 2;
        QTest::newRow("seven digits") << u"1234567.25"_s << u"1"_s << 1234567.25 << 1;
        QTest::newRow("a limit of nothing") << u"0"_s << u"1"_s << 10.0 << 1;
        QTest::newRow("negative") << u"-3"_s << u"1"_s << 10.0 << 1;
    }
    void storedValuesAndBadNumbers()
    {
        QFETCH(QString, maxSize);
        QFETCH(QString, prompt);
        QFETCH(double, expectedMax);
        QFETCH(int, expectedPrompt);
        const QString ini = iniPath(u"values-%1.ini"_s.arg(QString::fromLatin1(QTest::currentDataTag())));
        {
            SettingsStore writer(ini);
            writer.set(keys::kSettings, keys::kMaxFileSize, maxSize);
            writer.set(keys::kSettings, keys::kPromptSavePath, prompt);
            writer.set(keys::kSettings, keys::kDefaultSavePath, u"/data/docs"_s);
        }
        SettingsStore settings(ini);
        IniRegistry registry(iniPath(u"values-registry.ini"_s));
        AppContext app(settings, registry);
        app.loadStartupValues();
        QCOMPARE(app.settings().maxFileSizeMB(), expectedMax);
        QCOMPARE(app.settings().promptSavePathOnExtract(), expectedPrompt);
        // Stored again, it reads back the same.
        app.settings().store(ProgramSettings::Field::MaxFileSize);
        QCOMPARE(settings.get(keys::kSettings, keys::kMaxFileSize).toDouble(), expectedMax);
        QCOMPARE(app.settings().defaultSavePath(), u"/data/docs"_s);
    }

    void corruptFileGivesDefaults()
    {
        const QString ini = iniPath(u"corrupt.ini"_s);
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\xff\xfe\x00[[[\n=\x01\x02garbage\n[设置\nkey==\"unterminated\n", 40));
        f.close();
        SettingsStore settings(ini);
        QCOMPARE(settings.get(keys::kSettings, keys::kMaxFileSize, u"10"_s), u"10"_s);
        QCOMPARE(settings.getInt(u"fWebSearch"_s, u"combo1"_s, 10), 10);
    }

    // The settings file is the user's to edit: a comma without quotes is still text.
    void valueEditedWithAComma()
    {
        const QString ini = iniPath(u"edited.ini"_s);
        QVERIFY(test::writeFile(ini, "[fWebSearch]\nText1=/home/u/2024,reports\n"));
        QCOMPARE(SettingsStore(ini).get(u"fWebSearch"_s, u"Text1"_s), u"/home/u/2024,reports"_s);
    }

    void chineseSectionsRoundTrip()
    {
        const QString ini = iniPath(u"roundtrip.ini"_s);
        {
            SettingsStore s(ini);
            s.set(u"专利下载"_s, u"重复文件名设置"_s, u"覆盖"_s);
            s.set(u"fWebSearch"_s, u"Text1"_s, u"机器学习\r\n深度 学习"_s);
        }
        SettingsStore s(ini);
        QCOMPARE(s.get(u"专利下载"_s, u"重复文件名设置"_s, u"重命名"_s), u"覆盖"_s);
        QCOMPARE(s.get(u"fWebSearch"_s, u"Text1"_s), u"机器学习\r\n深度 学习"_s);
        QCOMPARE(s.get(u"fWebSearch"_s, u"missing"_s, u"d"_s), u"d"_s);
    }

    void emulationRestoredAtExit_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expectedValue");
        QTest::newRow("none chosen") << u""_s << u"11000"_s;
        QTest::newRow("browser default") << u"IE默认"_s << u"11000"_s;
        QTest::newRow("a level was chosen") << u"IE9"_s << u"Error"_s;
    }
    void emulationRestoredAtExit()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, expectedValue);
        const QString regPath = iniPath(u"exit-%1.ini"_s.arg(QString::fromLatin1(QTest::currentDataTag())));
        SettingsStore settings(iniPath(u"exit-settings.ini"_s));
        IniRegistry registry(regPath);
        AppContext app(settings, registry);
        app.settings().setSystem(u"32"_s, QString());
        app.settings().setBrowserEmulation(chosen, 1);
        app.restoreEmulationAtExit();
        QCOMPARE(registry.RegReadDword(browserEmulationKeyPath(), browserEmulationValueName(), u"32"_s),
                 expectedValue);
    }

    // One program at a time: a second is refused while the first runs; the lock of a program that
    // died is taken over; a folder nobody may write does not keep the program from starting.
    void oneProgramAtATime()
    {
        const QString folder = iniPath(u"data"_s);
        {
            ProgramLock first(folder);
            QVERIFY(first.claim());
            QVERIFY(first.claim()); // asked again, still held
            ProgramLock second(folder);
            QVERIFY(!second.claim());
        }
        ProgramLock third(folder);
        QVERIFY(third.claim());

        // As a program that ended without cleaning up leaves it.
        const QString other = iniPath(u"data-dead"_s);
        QDir().mkpath(other);
        QProcess ended;
        ended.start(u"true"_s, {});
        QVERIFY(ended.waitForStarted());
        const qint64 pid = ended.processId();
        QVERIFY(ended.waitForFinished());
        QFile left(QDir(other).filePath(u"running.lock"_s));
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(QByteArray::number(pid) + "\n" +
                   QCoreApplication::applicationName().toUtf8() + "\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        left.close();
        QVERIFY(ProgramLock(other).claim());
        // Left by a program on another machine, or empty, a minute ago: nothing holds them. An empty
        // one just made may be a program starting.
        const QByteArray foreign = "1\nLintbay\nother-host\nother-machine\nother-boot\n";
        for (const auto& [contents, age, taken] :
             {std::tuple{foreign, 60, true}, std::tuple{QByteArray(), 60, true},
              std::tuple{QByteArray(), 0, false}}) {
            const QString elsewhere = iniPath(u"data-left-%1-%2"_s.arg(contents.size()).arg(age));
            const QString path = QDir(elsewhere).filePath(u"running.lock"_s);
            QVERIFY(QDir().mkpath(elsewhere));
            QVERIFY(lintbay::test::writeFile(path, contents));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                     QFileDevice::FileModificationTime));
            file.close();
            QCOMPARE(ProgramLock(elsewhere).claim(), taken);
        }

        QVERIFY(ProgramLock(u"/proc/no-such-folder"_s).claim());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
