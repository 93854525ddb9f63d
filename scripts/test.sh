#!/usr/bin/env bash
# Builds and tests everything: a formatting check, a -Werror build with the API reference and
# the whole suite (the Debian packages included), the suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer, a clang build with the fuzz targets (each run briefly on its seed
# corpus) and the benchmarks (built, not run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
jobs=$(nproc)

echo "== formatting (.clang-format)"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== g++ -Werror build and test suite"
# Both suites' builds have the prefix /usr, as the Debian packages are built
# (README), so that the package test checks them with lintian.
cmake -S . -B build/werror -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVO_WERROR=ON \
  -DVO_BUILD_BENCHMARKS=ON -DCMAKE_CXX_COMPILER=g++ -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build/werror -j "$jobs"
echo "== API reference (Doxygen, warnings are errors)"
cmake --build build/werror --target docs
ctest --test-dir build/werror --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and test suite"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVO_WERROR=ON -DVO_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== clang build with fuzz targets"
cmake -S . -B build/clang -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVO_WERROR=ON \
  -DVO_BUILD_FUZZERS=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/clang -j "$jobs"
bash scripts/fuzz.sh build/clang "${VO_FUZZ_SECONDS:-5}"

echo "== all builds and tests passed"
