#include "SoundPlayer.h"

#include "util/FolderHistory.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

#include <map>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

bool isKnownSound(int id)
{
    return id == sounds::kWebPage || id == sounds::kAllDone || id == sounds::kFailed;
}

// One effect per sound, made on first use and kept for the rest of the run: an effect that is
// destroyed stops playing, and reloading the file for every notice would be wasteful. A sound whose
// file moved (another program folder) is loaded afresh.
QSoundEffect* effectFor(int id, const QUrl& source)
{
    static std::map<int, QPointer<QSoundEffect>> effects;
    QPointer<QSoundEffect>& effect = effects[id];
    if (!effect)
        effect = new QSoundEffect(QCoreApplication::instance());
    if (effect->source() != source)
        effect->setSource(source);
    return effect;
}

} // namespace

QString SoundFilePath(int id)
{
    return QDir(ProgramDataFolder()).filePath(QString::number(id) + u".wav"_s);
}

QString WriteSoundFile(int id)
{
    if (!isKnownSound(id))
        return {};
    const QString path = SoundFilePath(id);
    // A file already there is the user's to replace: it is never written over.
    if (QFileInfo::exists(path))
        return path;
    QFile resource(u":/sounds/%1.wav"_s.arg(id));
    if (!resource.open(QIODevice::ReadOnly))
        return {};
    const QByteArray wav = resource.readAll();
    QDir().mkpath(QFileInfo(path).path());
    // Written whole under another name first, so that no cut-off sound ever carries the name.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly) || file.write(wav) != wav.size() || !file.commit())
        return {};
    return path;
}

void PlaySoundResource(int id)
{
    if (!isKnownSound(id) || !QCoreApplication::instance())
        return;
    // Written out on first use, so that the user may put another sound in its place; where the
    // folder cannot be written, the program's own copy plays.
    const QString file = WriteSoundFile(id);
    const QUrl source = file.isEmpty() ? QUrl(u"qrc:/sounds/%1.wav"_s.arg(id)) : QUrl::fromLocalFile(file);
    if (QMediaDevices::defaultAudioOutput().isNull())
        return;
    QSoundEffect* effect = effectFor(id, source);
    // A notice that comes while the same sound still plays starts it again from the beginning.
    effect->stop();
    effect->play();
}

} // namespace lintbay
