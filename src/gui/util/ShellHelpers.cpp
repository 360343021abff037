#include "ShellHelpers.h"
#include <QStandardPaths>
#include <QProcess>

#include "util/Messages.h"
#include "util/PathHelpers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
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

} // namespace

bool OpenFile(const QString& path, QWidget* owner)
{
    const QString file = localPath(path);
    if (!FileExists(file)) {
        ShowError(owner, u"文件不存在！"_s);
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
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
    if (!QFileInfo(path).isFile())
        return false;
    // The desktop's choice for plain text, started by its desktop entry.
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                             QStringLiteral("text/plain")});
    if (query.waitForFinished(3000)) {
        const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
        if (entry.endsWith(QStringLiteral(".desktop"))) {
            const QString id = entry.chopped(8);
            for (const QString& launcher : {QStringLiteral("gtk-launch"), QStringLiteral("gio")}) {
                const QString program = QStandardPaths::findExecutable(launcher);
                if (program.isEmpty())
                    continue;
                const QStringList args = launcher == QStringLiteral("gio")
                                             ? QStringList{QStringLiteral("launch"), entry, path}
                                             : QStringList{id, path};
                if (QProcess::startDetached(program, args))
                    return true;
            }
        }
    }
    // No association: an editor named by the environment, else whatever opens the file.
    const QString visual = qEnvironmentVariable("VISUAL");
    if (!visual.isEmpty() && QProcess::startDetached(visual, {path}))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace lintbay
