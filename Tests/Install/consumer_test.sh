#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then builds a small
# consumer against it twice: with find_package(VoFoundation) and with pkg-config.
set -euo pipefail
build_dir=$1 consumer_src=$2 cxx=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null

# Pass the sanitizer flags of the library build on, so that the consumer links.
flags=$(sed -n 's/^CMAKE_CXX_FLAGS:STRING=//p' "$build_dir/CMakeCache.txt")
san=""
if grep -q '^VO_SANITIZE:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  san="-fsanitize=address,undefined"
fi

cmake -S "$consumer_src" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags $san" \
  -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$work/build" >/dev/null
out=$("$work/build/consumer")
[[ "$out" == "consumer ok" ]] || { echo "find_package consumer printed: $out"; exit 1; }

pcdir=$(dirname "$(find "$work/prefix" -name VoFoundation.pc | head -n1)")
export PKG_CONFIG_PATH="$pcdir"
# shellcheck disable=SC2046
"$cxx" $san "$consumer_src/consumer.cpp" -o "$work/consumer_pc" $(pkg-config --cflags --libs --static VoFoundation)
out=$("$work/consumer_pc")
[[ "$out" == "consumer ok" ]] || { echo "pkg-config consumer printed: $out"; exit 1; }
echo "install consumer: find_package and pkg-config both work"
