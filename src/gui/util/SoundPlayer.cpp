#include "SoundPlayer.h"

#include <QAudioDevice>
#include <QCoreApplication>
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
// destroyed stops playing, and reloading the file for every notice would be wasteful.
QSoundEffect* effectFor(int id)
{
    static std::map<int, QPointer<QSoundEffect>> effects;
    QPointer<QSoundEffect>& effect = effects[id];
    if (!effect) {
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl(u"qrc:/sounds/%1.wav"_s.arg(id)));
    }
    return effect;
}

} // namespace

void PlaySoundResource(int id)
{
    if (!isKnownSound(id) || !QCoreApplication::instance())
        return;
    if (QMediaDevices::defaultAudioOutput().isNull())
        return;
    QSoundEffect* effect = effectFor(id);
    // A notice that comes while the same sound still plays starts it again from the beginning.
    effect->stop();
    effect->play();
}

} // namespace lintbay
