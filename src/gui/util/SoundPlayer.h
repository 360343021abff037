#pragma once

#include <QString>

namespace lintbay {

// The program's notification sounds, by their resource numbers.
namespace sounds {
inline constexpr int kWebPage = 101; // a finished download turned out to be a web page
inline constexpr int kAllDone = 102; // every row of the download list has finished
inline constexpr int kFailed = 103;  // a download failed
} // namespace sounds

// Starts one of the program's sounds (101, 102 or 103) and returns at once. The sound plays from
// "<id>.wav" in the program's folder, written there from the program's resources on first use, so
// that the user can replace it. Other numbers, and a machine without a sound output, play nothing.
void PlaySoundResource(int id);

// "<id>.wav" in the program's folder.
QString SoundFilePath(int id);
// Writes the sound into the program's folder unless a file of that name is there already. The
// file's path, or empty when the number is unknown or the file cannot be written.
QString WriteSoundFile(int id);

} // namespace lintbay
