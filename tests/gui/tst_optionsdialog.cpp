#include "TestData.h"
#include "TestProgram.h"
#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/HeadlessBrowser.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/fFileDownload.h"
#include "options/BrowserEmulation.h"
#include "options/IniRegistry.h"
#include "options/fOption.h"
#include "util/Messages.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {
// The program's values over temporary settings and a temporary registry; the download window is
// loaded only when a test asks for it.
struct Program : TestProgram
{
    QString emulationValue(const QString& view)
    {
        return registry.RegReadDword(browserEmulationKeyPath(), browserEmulationValueName(), view);
    }
};

template <typename T> T* child(QObject* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}

void clickOk(fOption& dialog)
{
    child<QPushButton>(&dialog, u"Command1"_s)->click();
}
} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private slots:
    void controlsAndCaptions()
    {
        Program p;
        fOption dialog(p.gui);
        QCOMPARE(dialog.objectName(), u"fOption"_s);
        QCOMPARE(dialog.windowTitle(), u"设置-"_s + QCoreApplication::applicationName());
        QCOMPARE(child<QRadioButton>(&dialog, u"Option1"_s)->text(),
                 u"下载方式一 (支持HTTP，单线程，代理服务器下载)"_s);
        QCOMPARE(child<QRadioButton>(&dialog, u"Option2"_s)->text(), u"下载方式二 (支持HTTP，多线程下载)"_s);
        QCOMPARE(child<QCheckBox>(&dialog, u"Check2"_s)->text(), u"提取网页信息时，提示下载保存路径"_s);
        QCOMPARE(child<QLabel>(&dialog, u"Label2"_s)->text(), u"下载文件大小不超过：       MB"_s);
        const QStringList captions{u"IE7"_s, u"IE8"_s, u"IE9"_s, u"IE10"_s, u"IE11"_s};
        for (int i = 0; i < captions.size(); ++i)
            QCOMPARE(dialog.OptionIE(i)->text(), captions[i]);
        QCOMPARE(dialog.OptionIE(10)->text(), u"默认"_s);
        QVERIFY(!dialog.OptionIE(5));
        // The two groups of option buttons are independent of each other.
        QVERIFY(child<QRadioButton>(&dialog, u"Option2"_s)->isChecked());
        QVERIFY(dialog.OptionIE(10)->isChecked());
        // The size box lies inside its label's blank run, not over the text or "MB".
        auto* label = child<QLabel>(&dialog, u"Label2"_s);
        auto* box = child<QLineEdit>(&dialog, u"Text1"_s);
        const QFontMetrics metrics(label->font());
        QCOMPARE(box->x(), metrics.horizontalAdvance(u"下载文件大小不超过："_s));
        QVERIFY(box->geometry().right() <
                metrics.horizontalAdvance(label->text()) - metrics.horizontalAdvance(u"MB"_s));
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(u"10"_s));
    }

    void loadsTheValues_data()
    {
        QTest::addColumn<QString>("emulation");
        QTest::addColumn<int>("shown");
        QTest::newRow("IE7") << u"IE7"_s << 0;
        QTest::newRow("IE9") << u"IE9"_s << 2;
        QTest::newRow("IE11") << u"IE11"_s << 4;
        QTest::newRow("browser default") << u"IE默认"_s << 10;
        QTest::newRow("empty") << QString() << 10;
    }
    void loadsTheValues()
    {
        QFETCH(QString, emulation);
        QFETCH(int, shown);
        Program p;
        p.store.set(keys::kSettings, keys::kDownloadMode, 1);
        p.store.set(keys::kSettings, keys::kProxyEnabled, 1);
        p.store.set(keys::kSettings, keys::kProxyAddress, u"proxy.local"_s);
        p.store.set(keys::kSettings, keys::kProxyPort, u"3128"_s);
        ProgramSettings& v = p.app.settings();
        v.load();
        v.setBrowserEmulation(emulation, 1);
        v.setPromptSavePathOnExtract(0);
        v.setMaxFileSizeMB(2.5);

        fOption dialog(p.gui);
        for (int index : {0, 1, 2, 3, 4, 10})
            QCOMPARE(dialog.OptionIE(index)->isChecked(), index == shown);
        // Without the download window the way and the proxy are the stored ones, not the defaults.
        QVERIFY(child<QRadioButton>(&dialog, u"Option1"_s)->isChecked());
        QVERIFY(child<QCheckBox>(&dialog, u"Check1"_s)->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, u"Text6"_s)->text(), u"proxy.local"_s);
        QCOMPARE(child<QLineEdit>(&dialog, u"Text8"_s)->text(), u"3128"_s);
        QVERIFY(!child<QCheckBox>(&dialog, u"Check2"_s)->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, u"Text1"_s)->text(), u"2.5"_s);

        // OK without changes keeps the stored choices.
        dialog.show();
        clickOk(dialog);
        QCOMPARE(p.setting(keys::kDownloadMode), u"1"_s);
        QCOMPARE(p.setting(keys::kProxyEnabled), u"1"_s);
        QCOMPARE(p.setting(keys::kProxyAddress), u"proxy.local"_s);
        QCOMPARE(p.setting(keys::kProxyPort), u"3128"_s);
        QCOMPARE(p.setting(keys::kMaxFileSize), u"2.5"_s);
        QCOMPARE(v.browserEmulationVersion(), shown == 10 ? QString() : emulation);
    }

    // The steps apply in their order: at the proxy warning the way and the proxy are applied and
    // saved, the prompt, the size and the emulation level not yet; the warning never blocks.
    void okStepsInOrder()
    {
        Program p;
        p.store.set(keys::kSettings, keys::kPromptSavePath, 1);
        p.store.set(keys::kSettings, keys::kDownloadMode, 1);
        ProgramSettings& v = p.app.settings();
        v.load();
        fFileDownload* download = p.gui.downloadWindow();
        auto* label7 = child<QLabel>(download, u"Label7"_s);
        auto* combo1 = child<QComboBox>(download, u"Combo1"_s);
        QCOMPARE(label7->text(), u"下载方式：1"_s);
        QVERIFY(!combo1->isEnabled());

        fOption dialog(p.gui);
        dialog.show();
        QVERIFY(child<QRadioButton>(&dialog, u"Option1"_s)->isChecked());
        child<QRadioButton>(&dialog, u"Option2"_s)->setChecked(true);
        child<QCheckBox>(&dialog, u"Check1"_s)->setChecked(true);
        child<QLineEdit>(&dialog, u"Text6"_s)->setText(u"  proxy.local  "_s);
        child<QLineEdit>(&dialog, u"Text8"_s)->setText(u" abc "_s);
        child<QCheckBox>(&dialog, u"Check2"_s)->setChecked(false);
        child<QLineEdit>(&dialog, u"Text1"_s)->setText(u"25"_s);
        dialog.OptionIE(2)->setChecked(true);

        bool checkedAtWarning = false;
        p.onMessage = [&] {
            QCOMPARE(v.downloadMode(), DownloadMode::Parallel);
            QCOMPARE(p.setting(keys::kDownloadMode), u"2"_s);
            QCOMPARE(label7->text(), u"下载方式：2"_s);
            QVERIFY(combo1->isEnabled());
            QCOMPARE(combo1->currentText(), u"1"_s);
            QCOMPARE(p.setting(keys::kProxyEnabled), u"1"_s);
            QCOMPARE(p.setting(keys::kProxyAddress), u"proxy.local"_s);
            QCOMPARE(p.setting(keys::kProxyPort), u"abc"_s);
            QCOMPARE(p.setting(keys::kPromptSavePath), u"1"_s);
            QCOMPARE(p.setting(keys::kMaxFileSize), u"<none>"_s);
            QCOMPARE(p.emulationValue(u"32"_s), RegistryLayer::errorText());
            checkedAtWarning = true;
        };
        clickOk(dialog);

        QCOMPARE(p.messages.size(), 1);
        QCOMPARE(p.messages[0].icon, MessageIcon::Error);
        QCOMPARE(p.messages[0].text, u"代理服务器网址或者端口格式不对！"_s);
        QVERIFY(checkedAtWarning);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(p.setting(keys::kPromptSavePath), u"0"_s);
        QCOMPARE(v.promptSavePathOnExtract(), 0);
        QCOMPARE(p.setting(keys::kMaxFileSize), u"25"_s);
        QCOMPARE(v.maxFileSizeMB(), 25.0);
        QCOMPARE(p.emulationValue(u"32"_s), u"9000"_s);
        QCOMPARE(v.browserEmulationVersion(), u"IE9"_s);
        QCOMPARE(download->DownloadMode(), 2);
        QCOMPARE(combo1->currentText(), u"1"_s);
    }

    // The way chosen with the download window open; keeping the way it has keeps its slots.
    void wayWithDownloadWindowOpen_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<QString>("slotCount");
        QTest::newRow("way one") << 1 << u"1"_s;
        QTest::newRow("way two kept") << 2 << u"4"_s;
    }
    void wayWithDownloadWindowOpen()
    {
        QFETCH(int, way);
        QFETCH(QString, slotCount);
        Program p;
        fFileDownload* download = p.gui.downloadWindow();
        auto* combo1 = child<QComboBox>(download, u"Combo1"_s);
        combo1->setCurrentText(u"4"_s);
        fOption dialog(p.gui);
        dialog.show();
        child<QRadioButton>(&dialog, way == 1 ? u"Option1"_s : u"Option2"_s)->setChecked(true);
        clickOk(dialog);
        QCOMPARE(child<QLabel>(download, u"Label7"_s)->text(), u"下载方式：%1"_s.arg(way));
        QCOMPARE(combo1->isEnabled(), way == 2);
        QCOMPARE(combo1->currentText(), slotCount);
        QCOMPARE(download->DownloadMode(), way);
        // The window keeps the way when it saves its own settings on closing.
        download->close();
        QCOMPARE(p.setting(keys::kDownloadMode), QString::number(way));
    }

    // The window's own switch is in memory until it closes; the dialog shows that, not the store.
    void wayFollowsTheLoadedWindow()
    {
        Program p;
        fFileDownload* download = p.gui.downloadWindow();
        download->SwitchDownloadMode();
        QCOMPARE(download->DownloadMode(), 1);
        fOption dialog(p.gui);
        QVERIFY(child<QRadioButton>(&dialog, u"Option1"_s)->isChecked());
    }

    void proxyWarning_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("warned");
        QTest::newRow("empty address") << true << u"   "_s << u"8080"_s << true;
        QTest::newRow("port not a number") << true << u"proxy.local"_s << u"abc"_s << true;
        QTest::newRow("empty port") << true << u"proxy.local"_s << QString() << true;
        QTest::newRow("port out of range") << true << u"proxy.local"_s << u"70000"_s << true;
        QTest::newRow("port with a fraction") << true << u"proxy.local"_s << u"80.5"_s << true;
        QTest::newRow("valid") << true << u" 10.0.0.1 "_s << u" 3128 "_s << false;
        QTest::newRow("disabled, invalid") << false << QString() << u"abc"_s << false;
    }
    void proxyWarning()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, warned);
        Program p;
        fOption dialog(p.gui);
        dialog.show();
        child<QCheckBox>(&dialog, u"Check1"_s)->setChecked(enabled);
        child<QLineEdit>(&dialog, u"Text6"_s)->setText(address);
        child<QLineEdit>(&dialog, u"Text8"_s)->setText(port);
        clickOk(dialog);
        QCOMPARE(p.messages.size(), warned ? 1 : 0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(p.setting(keys::kProxyEnabled), enabled ? u"1"_s : u"0"_s);
        QCOMPARE(p.setting(keys::kProxyAddress), address.trimmed());
        QCOMPARE(p.setting(keys::kProxyPort), port.trimmed());
        QCOMPARE(p.app.settings().proxy().address, address.trimmed());
        QCOMPARE(p.app.settings().proxy().port, port.trimmed());
        // The downloads use the proxy exactly when no warning was due.
        const bool used = p.gui.network().proxy().type() == QNetworkProxy::HttpProxy;
        QCOMPARE(used, enabled && !warned);
    }

    void emulationLevelWritten_data()
    {
        QTest::addColumn<QString>("bitness");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("defaultView");
        QTest::addColumn<QString>("view64");
        const QString error = RegistryLayer::errorText();
        // Both views start at 11001, so that an untouched view shows.
        QTest::newRow("64-bit IE9") << u"64"_s << 2 << u"9000"_s << u"9000"_s;
        QTest::newRow("32-bit IE9") << u"32"_s << 2 << u"9000"_s << u"11001"_s;
        QTest::newRow("64-bit IE11 rewrites mode 2") << u"64"_s << 4 << u"11000"_s << u"11000"_s;
        QTest::newRow("64-bit default removes") << u"64"_s << 10 << error << error;
        QTest::newRow("32-bit default removes") << u"32"_s << 10 << error << u"11001"_s;
    }
    void emulationLevelWritten()
    {
        QFETCH(QString, bitness);
        QFETCH(int, choice);
        QFETCH(QString, defaultView);
        QFETCH(QString, view64);
        Program p;
        p.app.settings().setSystem(bitness, QString());
        p.registry.setOsBitness(bitness);
        const QString key = browserEmulationKeyPath();
        const QString name = browserEmulationValueName();
        QVERIFY(p.registry.RegWriteDword(key, name, 11001, u"32"_s));
        QVERIFY(p.registry.RegWriteDword(key, name, 11001, u"64"_s));
        p.app.settings().setBrowserEmulation(u"IE11"_s, 2);

        fOption dialog(p.gui);
        dialog.show();
        dialog.OptionIE(choice)->setChecked(true);
        clickOk(dialog);
        QCOMPARE(p.emulationValue(u"32"_s), defaultView);
        QCOMPARE(p.emulationValue(u"64"_s), view64);
        QCOMPARE(p.app.settings().browserEmulationMode(), 1);
        QCOMPARE(p.app.settings().browserEmulationVersion(),
                 choice == 10 ? QString() : dialog.OptionIE(choice)->text());
    }

    void sizeMustBeANumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("letters") << u"abc"_s;
        QTest::newRow("empty") << QString();
        QTest::newRow("number with a suffix") << u"12MB"_s;
        QTest::newRow("zero") << u"0"_s;
        QTest::newRow("negative") << u"-5"_s;
    }
    void sizeMustBeANumber()
    {
        QFETCH(QString, text);
        Program p;
        fOption dialog(p.gui);
        dialog.show();
        child<QRadioButton>(&dialog, u"Option1"_s)->setChecked(true);
        child<QCheckBox>(&dialog, u"Check2"_s)->setChecked(false);
        dialog.OptionIE(3)->setChecked(true);
        auto* size = child<QLineEdit>(&dialog, u"Text1"_s);
        size->setText(text);
        clickOk(dialog);
        QCOMPARE(p.messages.size(), 1);
        QCOMPARE(p.messages[0].icon, MessageIcon::Error);
        QVERIFY(dialog.isVisible());
        // Nothing of the dialog was applied.
        QCOMPARE(p.setting(keys::kDownloadMode), u"<none>"_s);
        QCOMPARE(p.setting(keys::kPromptSavePath), u"<none>"_s);
        QCOMPARE(p.setting(keys::kMaxFileSize), u"<none>"_s);
        QCOMPARE(p.app.settings().downloadMode(), DownloadMode::Parallel);
        QCOMPARE(p.app.settings().maxFileSizeMB(), 10.0);
        QCOMPARE(p.emulationValue(u"32"_s), RegistryLayer::errorText());

        // Corrected, the same dialog applies everything.
        size->setText(u" 0.5 "_s);
        clickOk(dialog);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(p.messages.size(), 1);
        QCOMPARE(p.setting(keys::kMaxFileSize), u"0.5"_s);
        QCOMPARE(p.app.settings().maxFileSizeMB(), 0.5);
        QCOMPARE(p.setting(keys::kDownloadMode), u"1"_s);
        QCOMPARE(p.setting(keys::kPromptSavePath), u"0"_s);
        QCOMPARE(p.emulationValue(u"32"_s), u"10000"_s);
    }

    void promptSettingSaved_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("ticked") << 0 << true;
        QTest::newRow("cleared") << 1 << false;
    }
    void promptSettingSaved()
    {
        QFETCH(int, before);
        QFETCH(bool, ticked);
        Program p;
        p.app.settings().setPromptSavePathOnExtract(before);
        fOption dialog(p.gui);
        dialog.show();
        auto* check2 = child<QCheckBox>(&dialog, u"Check2"_s);
        QCOMPARE(check2->isChecked(), before == 1);
        check2->setChecked(ticked);
        clickOk(dialog);
        QCOMPARE(p.setting(keys::kPromptSavePath), ticked ? u"1"_s : u"0"_s);
        QCOMPARE(p.app.settings().promptSavePathOnExtract(), ticked ? 1 : 0);
    }

    // Settings whose file cannot be written are not passed off as saved; a damaged file, rewritten
    // whole, and a write that gets through after one that did not are saved.
    void unwritableSettingsAreSaid_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("a folder where the file goes") << false;
        QTest::newRow("a damaged file") << true;
    }
    void unwritableSettingsAreSaid()
    {
        QFETCH(bool, writable);
        Program p;
        const QString ini = p.store.fileName();
        QFile::remove(ini);
        QVERIFY(writable ? writeFile(ini, "[broken\nno value here\n") : QDir().mkdir(ini));
        const auto ok = [&p] {
            fOption dialog(p.gui);
            dialog.show();
            child<QCheckBox>(&dialog, u"Check2"_s)->toggle();
            clickOk(dialog);
        };
        p.store.set(u"设置"_s, u"其他"_s, u"kept"_s); // a value the dialog does not write
        ok();
        const QString said = u"无法保存设置："_s + QDir::toNativeSeparators(ini);
        QCOMPARE(p.lastMessageIs(MessageIcon::Error, said), !writable);
        if (writable)
            return;
        QVERIFY(QDir().rmdir(ini));
        const qsizetype messages = p.messages.size();
        ok();
        QCOMPARE(p.messages.size(), messages);
        QVERIFY(readFile(ini).contains("kept"));
    }

    void closeAppliesNothing()
    {
        Program p;
        const QString emulationBefore = p.app.settings().browserEmulationVersion();
        fFileDownload* download = p.gui.downloadWindow();
        fOption dialog(p.gui);
        dialog.show();
        child<QRadioButton>(&dialog, u"Option1"_s)->setChecked(true);
        child<QLineEdit>(&dialog, u"Text1"_s)->setText(u"abc"_s);
        dialog.OptionIE(0)->setChecked(true);
        child<QPushButton>(&dialog, u"Command2"_s)->click();
        QVERIFY(!dialog.isVisible());
        QVERIFY(p.messages.isEmpty());
        QCOMPARE(download->DownloadMode(), 2);
        QCOMPARE(p.app.settings().downloadMode(), DownloadMode::Parallel);
        QCOMPARE(p.setting(keys::kMaxFileSize), u"<none>"_s);
        QCOMPARE(p.emulationValue(u"32"_s), RegistryLayer::errorText());
        QCOMPARE(p.app.settings().browserEmulationVersion(), emulationBefore);
    }
};

QTEST_MAIN(TestOptions)
#include "tst_optionsdialog.moc"
