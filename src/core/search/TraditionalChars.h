#pragma once

#include <QStringView>

namespace lintbay {

// The Traditional Chinese characters that HasTraditional looks for, each once, ordered by the code
// of their Simplified form. Generated from ICU by tools/gen-traditional-chars/generate.sh.
QStringView traditionalCharList();

} // namespace lintbay
