#!/bin/sh
# Regenerates src/core/search/TraditionalChars.cpp, the Traditional character table used by
# HasTraditional and, through it, by ToSimplified.
#
# How the checked-in table was made: Debian 12, OpenCC 1.1.6 (libopencc-dev and libopencc-data
# 1.1.6+ds1-1, which report version 1.1.5), ICU 72.1 (libicu-dev 72.1-3+deb12u1), g++ 12, by
# running this script from any folder:
#     tools/gen-traditional-chars/generate.sh
# It compiles gen_traditional_chars.cpp against OpenCC and ICU (pkg-config opencc icu-uc), runs it
# and writes the table; it prints the table's size and first characters. Needs: a C++ compiler,
# pkg-config, libopencc-dev, libopencc-data and libicu-dev, all of which building the program
# needs as well.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$root/src/core/search/TraditionalChars.cpp"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

${CXX:-c++} -std=c++17 -O1 -o "$work/gen" "$here/gen_traditional_chars.cpp" \
    $(pkg-config --cflags --libs opencc icu-uc)
"$work/gen" tools/gen-traditional-chars/generate.sh "$(pkg-config --modversion opencc)" > "$work/out.cpp"
mv "$work/out.cpp" "$out"
echo "wrote $out"
