#!/bin/sh
# Regenerates src/core/search/TraditionalChars.cpp, the Traditional character table used by
# HasTraditional.
#
# How the checked-in table was made: Debian 12, ICU 72.1 (libicu-dev 72.1-3+deb12u1, g++ 12),
# by running this script from any folder:
#     tools/gen-traditional-chars/generate.sh
# It compiles gen_traditional_chars.cpp against ICU (pkg-config icu-i18n), runs it and writes
# the table. Needs: a C++ compiler, pkg-config and libicu-dev (apt-get install libicu-dev). These
# are needed only to regenerate the table, never to build the program.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$root/src/core/search/TraditionalChars.cpp"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

${CXX:-c++} -std=c++17 -O1 -o "$work/gen" "$here/gen_traditional_chars.cpp" \
    $(pkg-config --cflags --libs icu-i18n icu-uc)
"$work/gen" tools/gen-traditional-chars/generate.sh > "$work/out.cpp"
mv "$work/out.cpp" "$out"
echo "wrote $out"
