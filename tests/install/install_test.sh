#!/usr/bin/env bash
# The installed tree as a user gets it: installed to a prefix that is then moved elsewhere, where
# the tool must still find its stubs and a C program must build against the library, once with
# pkg-config and once with find_package(vorn).
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
prefix=$work/moved
! grep -rqF "$build" "$prefix" || fail "the installed tree refers to the build tree"

mkdir -p "$work/src/docs" "$work/out"
echo "installed and moved" >"$work/src/docs/note.txt"
export VORN_STUB_DIR=
"$prefix/bin/vorn" pack -q --sfx linux "$work/out/setup.run" "$work/src" ||
  fail "the moved vorn cannot make a Linux self-extractor"
# Without a terminal it extracts beside itself.
"$work/out/setup.run" </dev/null >/dev/null || fail "the self-extractor did not extract"
cmp -s "$work/src/docs/note.txt" "$work/out/src/docs/note.txt" || fail "extracted bytes differ"
for kind in windows windows64; do
  if [ -f "$prefix/lib/vorn/$([ $kind = windows ] && echo vornsfx.exe || echo vornsfx64.exe)" ]; then
    "$prefix/bin/vorn" pack -q --sfx $kind "$work/setup-$kind.exe" "$work/src" ||
      fail "the moved vorn cannot make a $kind self-extractor"
    [ "$(head -c 2 "$work/setup-$kind.exe")" = MZ ] || fail "$kind self-extractor is no program"
  fi
done
"$prefix/bin/vorn" pack -q "$work/plain.vorn" "$work/src"
expected="src\\docs\\note.txt 20"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$work/with-pkg-config" "$source/tests/install/list_entries.c" \
  $(pkg-config --cflags --libs vorn) || fail "a C program does not build with pkg-config"
[ "$("$work/with-pkg-config" "$work/plain.vorn")" = "$expected" ] ||
  fail "the pkg-config build lists the wrong entries"

cmake -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  >/dev/null || fail "find_package(vorn) fails"
cmake --build "$work/consumer" >/dev/null || fail "a C program does not build with find_package"
[ "$("$work/consumer/list_entries" "$work/plain.vorn")" = "$expected" ] ||
  fail "the find_package build lists the wrong entries"
echo "installed tree: moved, packs self-extractors, builds C programs with pkg-config and CMake"
