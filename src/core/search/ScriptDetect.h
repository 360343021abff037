#pragma once

#include <QString>
#include <QStringView>

namespace lintbay {

// Script tests and conversion applied to result titles by the search window's filters and list
// operations. All three are pure functions of their argument. ToSimplified uses one OpenCC
// converter, opened on first use and shared; call it from the GUI thread only.

// Whether the text holds a hiragana (ぁ..ん) or katakana (ァ..ヶ) letter. The prolonged sound
// mark, the middle dot and half-width katakana do not count: they also turn up in Chinese titles.
bool HasKana(QStringView text);

// Whether the text holds a character of the Traditional character list (traditionalCharList()).
// No hanzi of GB2312 is listed, so a title written in the Simplified repertoire gives false.
bool HasTraditional(QStringView text);

// The text in Simplified characters, converted by OpenCC's t2s data, which reads phrases (乾隆年間
// becomes 乾隆年间, 乾燥設備 becomes 干燥设备). A text for which HasTraditional is false comes back
// unchanged, so no Simplified title is ever altered. The conversion is one character for one
// character, so the result has the input's length; a character whose Simplified form would take
// another number of UTF-16 units keeps its own form. Latin letters, digits, kana and other
// scripts stay as they are. Returns the text unchanged when OpenCC's configuration cannot be
// loaded.
QString ToSimplified(QStringView text);

} // namespace lintbay
