#include "TestProgram.h"

#include "app/HeadlessBrowser.h"
#include "app/fCover.h"
#include "download/fFileDownload.h"
#include "search/fWebSearch.h"
#include "util/FileDialogs.h"
#include "util/FolderHistory.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace lintbay::test {

TestProgram::TestProgram(const QMap<QString, QString>& settings)
{
    // Downloads land in the temporary folder unless a suite says otherwise.
    store.set(keys::kSettings, keys::kDefaultSavePath, dir.filePath(u"saved"_s));
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        store.set(keys::kSettings, it.key(), it.value());
    registry.setOsBitness(u"64"_s);
    app.loadStartupValues();
    gui.browserFactory = [this](QWidget* parent) {
        return BrowserWithView{new HeadlessBrowser(&nam, parent), nullptr};
    };
    gui.pageLoadTimeoutMs = 5000;
    gui.nextPageLoadTimeoutMs = 5000;
    gui.pageSettleMs = 0;
    gui.journalPath = dir.filePath(u"download-journal.sqlite"_s);
    // The program's own files (sounds, folder history) go to the temporary folder too.
    QDir(dir.path()).mkdir(u"program"_s);
    SetProgramDataFolder(dir.filePath(u"program"_s));
    SetMessageSink([this](MessageIcon icon, const QString& text) {
        messages.append({icon, text});
        if (onMessage)
            onMessage();
        return answerYes;
    });
}

TestProgram::~TestProgram()
{
    SetMessageSink({});
    SetProgramDataFolder({});
    SetInputPicker({});
    SetFileNamePicker({});
    delete gui.download.data();
    delete gui.search.data();
    delete gui.cover.data();
}

fCover* TestProgram::start()
{
    auto* cover = new fCover(gui);
    gui.cover = cover;
    cover->endProgram = [this] { ++endProgramCalls; };
    cover->load();
    return cover;
}

fWebSearch* TestProgram::openSearch()
{
    fCover* cover = gui.cover ? gui.cover.data() : start();
    auto* open = cover->findChild<QPushButton*>(u"Command1"_s);
    if (!QTest::qWaitFor([open] { return open->isEnabled(); }, 2000))
        return nullptr;
    open->click();
    return gui.search;
}

bool TestProgram::lastMessageIs(MessageIcon icon, const QString& text) const
{
    return !messages.isEmpty() && messages.constLast().icon == icon && messages.constLast().text == text;
}

QStringList TestProgram::messageTexts() const
{
    QStringList texts;
    for (const Message& m : messages)
        texts << m.text;
    return texts;
}

QString TestProgram::at(const QString& relative) const
{
    return QDir::toNativeSeparators(dir.filePath(relative));
}

QString TestProgram::setting(const QString& key) const
{
    return store.get(keys::kSettings, key, u"<none>"_s);
}

} // namespace lintbay::test
