#include "ShellHelpers.h"

#include "util/Messages.h"
#include "util/PathHelpers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// A file manager that is not running is started by the bus; give it time, but do not leave the
// window frozen for long when nothing answers.
constexpr int kShowItemsTimeoutMs = 5000;

QString localPath(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.startsWith(u"file:"_s, Qt::CaseInsensitive)) {
        const QUrl url(trimmed);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return trimmed;
}

bool showItemsOverDBus(const QString& file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
                                       u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kShowItemsTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

// A launcher hands the application over and ends; only its own success counts (a started process
// proves nothing). One still running after this long is taken to have launched.
constexpr int kLauncherTimeoutMs = 5000;

bool runLauncher(const QString& program, const QStringList& args)
{
    QProcess launcher;
    // No pipes: the application inherits the launcher's output and must not die writing to a pipe
    // nobody reads any more.
    launcher.setProcessChannelMode(QProcess::ForwardedChannels);
    launcher.start(program, args);
    if (!launcher.waitForStarted(kLauncherTimeoutMs))
        return false;
    if (!launcher.waitForFinished(kLauncherTimeoutMs)) {
        // The application it started is a process of its own and stays.
        launcher.kill();
        launcher.waitForFinished(1000);
        return true;
    }
    return launcher.exitStatus() == QProcess::NormalExit && launcher.exitCode() == 0;
}

// Starts the desktop's application for a type (a MIME type or "x-scheme-handler/…") by its desktop
// entry, with one argument.
bool launchDefaultFor(const QString& type, const QString& argument)
{
    QProcess query;
    query.start(u"xdg-mime"_s, {u"query"_s, u"default"_s, type});
    if (!query.waitForFinished(3000))
        return false;
    const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (!entry.endsWith(u".desktop"_s))
        return false;
    const QString gtkLaunch = QStandardPaths::findExecutable(u"gtk-launch"_s);
    if (!gtkLaunch.isEmpty() && runLauncher(gtkLaunch, {entry.chopped(8), argument}))
        return true;
    // gio wants the entry's file, not its name.
    const QString gio = QStandardPaths::findExecutable(u"gio"_s);
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    return !gio.isEmpty() && !file.isEmpty() && runLauncher(gio, {u"launch"_s, file, argument});
}

// Whether the desktop would run the file rather than show it: what its name and content make it
// (a runtime for Windows programs or Java archives runs those whatever the file's permissions), or
// its execute permission.
bool runsAsProgram(const QString& file)
{
    static const QStringList runnable{
        u"application/x-executable"_s,  u"application/x-sharedlib"_s,
        u"application/x-shellscript"_s, u"application/x-ms-dos-executable"_s,
        u"application/x-msdownload"_s,  u"application/x-msi"_s,
        u"application/x-ms-shortcut"_s, u"application/x-java-archive"_s,
        u"application/x-desktop"_s,     u"application/x-bat"_s,
    };
    const QMimeType type = QMimeDatabase().mimeTypeForFile(file);
    for (const QString& name : runnable) {
        if (type.inherits(name))
            return true;
    }
    return QFileInfo(file).isExecutable();
}

} // namespace

bool OpenFile(const QString& path, QWidget* owner)
{
    const QString file = localPath(path);
    if (!FileExists(file)) {
        ShowError(owner, u"文件不存在！"_s);
        return false;
    }
    const QString absolute = QFileInfo(file).absoluteFilePath();
    if (runsAsProgram(absolute)) {
        ShowError(owner, u"这是可以运行的程序，为了安全不直接打开，请在文件夹中查看：\n"_s +
                             QDir::toNativeSeparators(absolute));
        ShowInFolder(absolute);
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

bool ShowInFolder(const QString& path)
{
    const QString file = localPath(path);
    if (!FileExists(file))
        return false;
    const QFileInfo info(file);
    if (showItemsOverDBus(info.absoluteFilePath()))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

bool OpenWithTextEditor(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    // Absolute: a relative name beginning with "-" would be read as an option.
    const QString file = info.absoluteFilePath();
    // The desktop's choice for plain text, started by its desktop entry; else a desktop text editor
    // found on the path. Never what opens the file's own type: a page would run its scripts in a
    // browser, a document its macros. (An editor named in $VISUAL is mostly one for a terminal, which
    // a desktop program has not.)
    if (launchDefaultFor(u"text/plain"_s, file))
        return true;
#if defined(Q_OS_WIN)
    return QProcess::startDetached(u"notepad.exe"_s, {QDir::toNativeSeparators(file)});
#elif defined(Q_OS_MACOS)
    return QProcess::startDetached(u"open"_s, {u"-t"_s, file});
#else
    for (const char* editor : {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma",
                               "featherpad", "geany"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(editor));
        if (!program.isEmpty() && QProcess::startDetached(program, {file}))
            return true;
    }
    return false;
#endif
}

bool OpenInWebBrowser(const QString& text)
{
    // Web addresses, and files that exist (as absolute paths); nothing else reaches a browser, be it
    // a script address or text a browser would read as an option.
    QString target = text.trimmed();
    const QUrl address(target);
    const QString scheme = address.scheme().toLower();
    const bool webAddress = scheme == u"http"_s || scheme == u"https"_s || scheme == u"ftp"_s;
    const QFileInfo file(localPath(target));
    if (webAddress)
        target = address.toString(QUrl::FullyEncoded);
    else if (file.isFile())
        target = file.absoluteFilePath();
    else
        return false;
    // The browser the user named: commands separated by ":", "%s" standing for the address.
    const QString named = qEnvironmentVariable("BROWSER");
    for (const QString& command : named.split(u':', Qt::SkipEmptyParts)) {
        QStringList args = QProcess::splitCommand(command);
        if (args.isEmpty())
            continue;
        const QString program = args.takeFirst();
        bool placed = false;
        for (QString& arg : args) {
            if (arg.contains(u"%s"_s)) {
                arg.replace(u"%s"_s, target);
                placed = true;
            }
        }
        if (!placed)
            args.append(target);
        if (QProcess::startDetached(program, args))
            return true;
    }
    // The desktop's web browser is the handler of web addresses; a file path goes to it as well,
    // never to the program its own type is associated with.
    if (launchDefaultFor(u"x-scheme-handler/http"_s, target))
        return true;
    for (const QString& name : {u"x-www-browser"_s, u"sensible-browser"_s}) {
        const QString program = QStandardPaths::findExecutable(name);
        if (!program.isEmpty() && QProcess::startDetached(program, {target}))
            return true;
    }
    return webAddress && QDesktopServices::openUrl(address);
}

} // namespace lintbay
