#pragma once

namespace lintbay {

// The program's notification sounds, by their resource numbers.
namespace sounds {
inline constexpr int kWebPage = 101; // a finished download turned out to be a web page
inline constexpr int kAllDone = 102; // every row of the download list has finished
inline constexpr int kFailed = 103;  // a download failed
} // namespace sounds

// Starts one of the program's sounds (101, 102 or 103) and returns at once. Other numbers, and a
// machine without a sound output, play nothing.
void PlaySoundResource(int id);

} // namespace lintbay
