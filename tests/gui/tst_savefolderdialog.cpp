#include "app/GuiContext.h"
#include "TestProgram.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "download/fSeleFileSavePath.h"
#include "options/IniRegistry.h"
#include "util/BrowseForFolder.h"
#include "util/FolderHistory.h"
#include "util/Messages.h"
#include "util/TextFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

const QString kUnset = u"<unset>"_s;
const QString kSettingError = u"文件夹设置错误！"_s;
const QString kNameError = u"文件夹名称有误！不能创建文件夹！"_s;

// Settings, registry and the program folder in a temporary folder; message boxes recorded. The
// folder offered is "default/" (in memory); the store holds another until the dialog saves one.
struct Program : TestProgram
{
    const QString stored = store.get(keys::kSettings, keys::kDefaultSavePath);

    Program()
    {
        QDir(dir.path()).mkdir(u"program"_s);
        SetProgramDataFolder(dir.filePath(u"program"_s));
        app.settings().setDefaultSavePath(at(u"default/"_s));
    }
    ~Program()
    {
        SetFolderPicker({});
        SetProgramDataFolder({});
    }

    QString historyFile() const { return FolderHistoryFile(); }
    QString savedFolder() const { return store.get(keys::kSettings, keys::kDefaultSavePath, kUnset); }
};

template <typename T> T* child(QWidget* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}

QStringList comboEntries(QComboBox* combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}

} // namespace

class TestSaveFolderDialog : public QObject
{
    Q_OBJECT
private slots:
    void load()
    {
        Program p;
        QVERIFY(writeTextFile(p.historyFile(), {u"/one/"_s, u""_s, u"/Two/"_s, u"/two/"_s}));
        fSeleFileSavePath dialog(p.gui);
        QCOMPARE(dialog.windowTitle(), u"选择下载保存路径－Marrowfen软件"_s);
        QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
        auto* combo = child<QComboBox>(&dialog, u"Combo1"_s);
        QVERIFY(combo->isEditable());
        QCOMPARE(comboEntries(combo), (QStringList{u"/one/"_s, u"/Two/"_s, u"/two/"_s}));
        QCOMPARE(combo->currentText(), p.at(u"default/"_s));
        QVERIFY(child<QRadioButton>(&dialog, u"Option2"_s)->isChecked());

        p.app.saveFolderChoice().nameFromLink = true;
        fSeleFileSavePath second(p.gui);
        QVERIFY(child<QRadioButton>(&second, u"Option1"_s)->isChecked());
    }

    void confirm_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("folder");
        QTest::newRow("without separator") << u"new/deeper"_s << u"new/deeper/"_s;
        QTest::newRow("with separator") << u"other/"_s << u"other/"_s;
        QTest::newRow("blanks around") << u"  spaced  "_s << u"spaced/"_s;
    }
    void confirm()
    {
        QFETCH(QString, typed);
        QFETCH(QString, folder);
        Program p;
        QVERIFY(writeTextFile(p.historyFile(), {u"/old/"_s}));
        p.app.saveFolderChoice().cancelled = true;
        const QString expected = p.at(folder);
        const QString input =
            typed.startsWith(u' ') ? u"  "_s + p.at(typed.trimmed()) + u"  "_s : p.at(typed);

        fSeleFileSavePath dialog(p.gui);
        dialog.show();
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(input);
        child<QPushButton>(&dialog, u"Command2"_s)->click();

        QCOMPARE(p.messages, QList<Message>{});
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QVERIFY(QFileInfo(expected).isDir());
        QCOMPARE(p.app.settings().defaultSavePath(), expected);
        QCOMPARE(p.savedFolder(), expected);
        QVERIFY(!p.app.saveFolderChoice().cancelled);
        QCOMPARE(readTextLines(p.historyFile()), (QStringList{u"/old/"_s, expected}));
    }

    // A folder chosen while the settings cannot be written holds for this run, and the user hears
    // that it will not be remembered.
    void unwritableSettingsAreSaid()
    {
        Program p;
        const QString ini = p.store.fileName();
        QFile::remove(ini);
        QVERIFY(QDir().mkdir(ini));
        fSeleFileSavePath dialog(p.gui);
        dialog.show();
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(p.at(u"chosen"_s));
        child<QPushButton>(&dialog, u"Command2"_s)->click();
        QCOMPARE(p.messages,
                 (QList<Message>{{MessageIcon::Error, u"无法保存设置："_s + QDir::toNativeSeparators(ini)}}));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(p.app.settings().defaultSavePath(), p.at(u"chosen/"_s));
    }

    // The history keeps what the user chose again, but shows it once.
    void confirmFolderAlreadyInHistory()
    {
        Program p;
        const QString folder = p.at(u"again/"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeTextFile(p.historyFile(), {folder}));
        {
            fSeleFileSavePath dialog(p.gui);
            child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(folder);
            child<QPushButton>(&dialog, u"Command2"_s)->click();
        }
        QCOMPARE(readTextLines(p.historyFile()), (QStringList{folder, folder}));
        fSeleFileSavePath dialog(p.gui);
        QCOMPARE(comboEntries(child<QComboBox>(&dialog, u"Combo1"_s)), QStringList{folder});
    }

    void invalidFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("below a regular file") << u"<dir>/afile/sub"_s << QStringList{kSettingError};
        // Only the part before the bad name can be made; that is not the folder asked for.
        QTest::newRow("unusable name") << u"<dir>/docs/<>/x"_s << QStringList{kNameError, kSettingError};
        QTest::newRow("empty") << u"   "_s << QStringList{kSettingError};
        QTest::newRow("relative") << u"relative/folder"_s << QStringList{kSettingError};
    }
    void invalidFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        Program p;
        QFile file(p.at(u"afile"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString before = p.app.settings().defaultSavePath();

        fSeleFileSavePath dialog(p.gui);
        dialog.show();
        child<QRadioButton>(&dialog, u"Option1"_s)->setChecked(true);
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(typed.replace(u"<dir>"_s, p.dir.path()));
        child<QPushButton>(&dialog, u"Command2"_s)->click();
        QVERIFY(!p.app.saveFolderChoice().nameFromLink); // nothing was taken

        QList<Message> expected;
        for (const QString& m : messages)
            expected.append({MessageIcon::Error, m});
        QCOMPARE(p.messages, expected);
        QVERIFY(dialog.isVisible());
        QCOMPARE(p.app.settings().defaultSavePath(), before);
        QCOMPARE(p.savedFolder(), p.stored);
        QVERIFY(!QFileInfo::exists(p.historyFile()));
        QVERIFY(!QFileInfo::exists(QDir::current().filePath(u"relative"_s)));
    }

    void cancel_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("取消") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("close button") << 2;
    }
    void cancel()
    {
        QFETCH(int, way);
        Program p;
        const QString before = p.app.settings().defaultSavePath();
        fSeleFileSavePath dialog(p.gui);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(p.at(u"never"_s));
        child<QRadioButton>(&dialog, u"Option1"_s)->setChecked(true);
        if (way == 0)
            child<QPushButton>(&dialog, u"Command3"_s)->click();
        else if (way == 1)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();

        QVERIFY(!dialog.isVisible());
        QVERIFY(p.app.saveFolderChoice().cancelled);
        QVERIFY(!p.app.saveFolderChoice().nameFromLink);
        QCOMPARE(p.app.settings().defaultSavePath(), before);
        QCOMPARE(p.savedFolder(), p.stored);
        QVERIFY(!QFileInfo::exists(p.historyFile()));
        QVERIFY(!QFileInfo::exists(p.at(u"never"_s)));
    }

    void namingChoice_data()
    {
        QTest::addColumn<bool>("fromLink");
        QTest::newRow("原文件名") << true;
        QTest::newRow("文章标题名称") << false;
    }
    void namingChoice()
    {
        QFETCH(bool, fromLink);
        Program p;
        p.app.saveFolderChoice().nameFromLink = !fromLink;
        fSeleFileSavePath dialog(p.gui);
        child<QRadioButton>(&dialog, fromLink ? u"Option1"_s : u"Option2"_s)->setChecked(true);
        child<QPushButton>(&dialog, u"Command2"_s)->click();
        QCOMPARE(p.app.saveFolderChoice().nameFromLink, fromLink);
    }

    void browse()
    {
        Program p;
        QString askedTitle;
        QString answer = p.at(u"picked"_s);
        SetFolderPicker([&](QWidget*, const QString&, const QString& title, bool) {
            askedTitle = title;
            return answer;
        });
        fSeleFileSavePath dialog(p.gui);
        auto* combo = child<QComboBox>(&dialog, u"Combo1"_s);
        auto* browse = child<QPushButton>(&dialog, u"Command1"_s);
        browse->click();
        QCOMPARE(askedTitle, u"请选择要浏览的文件夹:"_s);
        QCOMPARE(combo->currentText(), p.at(u"picked/"_s));

        // Cancelling the picker leaves the text exactly as it was.
        answer.clear();
        combo->setEditText(p.dir.path());
        browse->click();
        QCOMPARE(combo->currentText(), p.dir.path());
    }

    void ask_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("确定") << u"Command2"_s << true;
        QTest::newRow("取消") << u"Command3"_s << false;
    }
    void ask()
    {
        QFETCH(QString, button);
        QFETCH(bool, confirmed);
        Program p;
        p.app.saveFolderChoice().cancelled = confirmed;
        bool clicked = false;
        QTimer::singleShot(0, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                child<QPushButton>(modal, button)->click();
                clicked = true;
            }
        });
        QCOMPARE(fSeleFileSavePath::ask(p.gui), confirmed);
        QVERIFY(clicked);
    }
};

QTEST_MAIN(TestSaveFolderDialog)
#include "tst_savefolderdialog.moc"
