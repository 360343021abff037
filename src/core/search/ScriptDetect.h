#pragma once

#include <QString>
#include <QStringView>

namespace lintbay {

// Script tests and conversion applied to result titles by the search window's filters and list
// operations. All three are pure functions of their argument. They use a shared ICU
// transliterator, so call them from the GUI thread only.

// Whether the text holds a hiragana (ぁ..ん) or katakana (ァ..ヶ) letter. The prolonged sound
// mark, the middle dot and half-width katakana do not count: they also turn up in Chinese titles.
bool HasKana(QStringView text);

// Whether the text holds a character of the Traditional character list (traditionalCharList()).
bool HasTraditional(QStringView text);

// The text with each Traditional character replaced by its Simplified form, one character for one
// character, so the result has the input's length. Everything without a one-character Simplified
// form (Latin letters, digits, Simplified characters, characters of any other script) stays as it
// is, and so are the few characters ICU maps in a circle (苎 stays 苎). Returns the text
// unchanged when ICU cannot provide the transliterator.
QString ToSimplified(QStringView text);

} // namespace lintbay
