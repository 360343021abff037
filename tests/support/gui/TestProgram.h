#pragma once

#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/SettingsStore.h"
#include "options/IniRegistry.h"
#include "util/Messages.h"

#include <QList>
#include <QMap>
#include <QNetworkAccessManager>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace lintbay {
class fCover;
class fWebSearch;
} // namespace lintbay

namespace lintbay::test {

struct Message
{
    MessageIcon icon;
    QString text;
    bool operator==(const Message&) const = default;
};

// The program as the GUI suites run it: settings, registry and data in a temporary folder, browsers
// without a view (network-only, over `nam`), message boxes recorded instead of shown (questions get
// `answerYes`), no file or input dialog left waiting for a person, and the program's end only
// counted. Windows it opened are closed down with it.
struct TestProgram
{
    QTemporaryDir dir;
    SettingsStore store{dir.filePath(QStringLiteral("Lintbay.ini"))};
    IniRegistry registry{dir.filePath(QStringLiteral("registry.ini"))};
    AppContext app{store, registry};
    QNetworkAccessManager nam;
    GuiContext gui{app, nullptr};
    QList<Message> messages;
    bool answerYes = true;
    // Runs while a message is "shown", to look at what has been applied by then.
    std::function<void()> onMessage;
    int endProgramCalls = 0;

    // `settings` are written to section "设置" of the store before the program loads them; the
    // default save folder is "saved" in the temporary folder unless they name one.
    explicit TestProgram(const QMap<QString, QString>& settings = {});
    ~TestProgram();
    TestProgram(const TestProgram&) = delete;
    TestProgram& operator=(const TestProgram&) = delete;

    // The start-up window, loaded as the program loads it.
    fCover* start();
    // The search window, opened from the start-up window as a user would; null when it did not open.
    fWebSearch* openSearch();

    bool lastMessageIs(MessageIcon icon, const QString& text) const;
    QStringList messageTexts() const;
    // A path under the temporary folder, in native form.
    QString at(const QString& relative) const;
    // A stored value of section "设置", or "<none>".
    QString setting(const QString& key) const;
};

} // namespace lintbay::test
