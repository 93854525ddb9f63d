#!/usr/bin/env bash
# Runs every fuzz target of a clang build for a few seconds on its seed corpus.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) seconds=${2:-5}
shopt -s nullglob
count=0
for fuzzer in "$build"/Fuzz/*_fuzz; do
  name=$(basename "$fuzzer" _fuzz)
  work=$(mktemp -d)
  cp -r "$root/Fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  echo "-- fuzzing $name for ${seconds}s"
  (cd "$work" && "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 \
      -artifact_prefix="$work/" "$work" >"$work/log" 2>&1) || {
    echo "fuzz target $name failed:"; tail -n 40 "$work/log"; exit 1; }
  rm -rf "$work"
  count=$((count + 1))
done
echo "$count fuzz targets ran clean"
