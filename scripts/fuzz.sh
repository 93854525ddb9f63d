#!/usr/bin/env bash
# Runs the fuzz targets of a clang build on their seed corpora.
#
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]
#          every target in turn for SECONDS (default 5); the first failure stops the script.
#        scripts/fuzz.sh --long BUILD_DIR [MINUTES] [RUNS] [REPORT]
#          every target until MINUTES (default 10) have passed or RUNS (default 10,000,000)
#          inputs were tried, whichever comes first, two targets at a time. The grown corpus of
#          each target is kept under BUILD_DIR/fuzz-long/<name>/corpus, any crashing input under
#          BUILD_DIR/fuzz-long/<name>/; one Markdown table row per target (executions, coverage,
#          features, crashes) goes to REPORT (default BUILD_DIR/fuzz-long/report.md) and to
#          standard output. Exits non-zero when any target found a crash.
# A crashing input is copied to Fuzz/corpus/<name>/ as crash-<sha1> so that it becomes a seed;
# turn it into a test of its own as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

long=0
if [[ ${1:-} == --long ]]; then
  long=1
  shift
fi
[[ $# -ge 1 ]] || { sed -n '2,14p' "$0" >&2; exit 2; }
build=$(cd "$1" && pwd)
shopt -s nullglob
fuzzers=("$build"/Fuzz/*_fuzz)
[[ ${#fuzzers[@]} -gt 0 ]] || { echo "no fuzz targets in $build/Fuzz" >&2; exit 1; }

keep_crashes() {  # name folder: copies crash-* inputs of a run into the seed corpus
  local name=$1 dir=$2 found=0 f
  for f in "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-*; do
    cp "$f" "$root/Fuzz/corpus/$name/$(basename "$f")"
    echo "  kept $(basename "$f") as a seed in Fuzz/corpus/$name/"
    found=$((found + 1))
  done
  return "$found"
}

if [[ $long -eq 0 ]]; then
  seconds=${2:-5}
  count=0
  for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer" _fuzz)
    work=$(mktemp -d)
    cp -r "$root/Fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    echo "-- fuzzing $name for ${seconds}s"
    (cd "$work" && "$fuzzer" -max_total_time="$seconds" -print_final_stats=0 \
        -artifact_prefix="$work/" "$work" >"$work/log" 2>&1) || {
      echo "fuzz target $name failed:"; tail -n 40 "$work/log"
      keep_crashes "$name" "$work" || true
      exit 1; }
    rm -rf "$work"
    count=$((count + 1))
  done
  echo "$count fuzz targets ran clean"
  exit 0
fi

minutes=${2:-10}
runs=${3:-10000000}
out="$build/fuzz-long"
report=${4:-$out/report.md}
mkdir -p "$out"

run_long() {  # fuzzer: one long run, then a table row in $out/<name>/row
  local fuzzer=$1 name dir start end status=0
  name=$(basename "$fuzzer" _fuzz)
  dir="$out/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  cp -r "$root/Fuzz/corpus/$name/." "$dir/corpus/" 2>/dev/null || true
  start=$(date +%s)
  (cd "$dir" && "$fuzzer" -max_total_time=$((minutes * 60)) -runs="$runs" -print_final_stats=1 \
      -artifact_prefix="$dir/" corpus >log 2>&1) || status=$?
  end=$(date +%s)
  local execs cov ft crashes
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$dir/log" | tail -n 1 | cut -d' ' -f2)
  crashes=0
  keep_crashes "$name" "$dir" >"$dir/kept" || crashes=$?
  [[ $status -ne 0 && $crashes -eq 0 ]] && crashes="run failed ($status)"
  printf '| %s | %s s | %s | %s | %s | %s |\n' "$name" $((end - start)) "${execs:-?}" \
    "${cov:-?}" "${ft:-?}" "$crashes" >"$dir/row"
}

echo "-- long fuzzing: ${#fuzzers[@]} targets, two at a time, each ${minutes} min or ${runs} runs"
for fuzzer in "${fuzzers[@]}"; do
  while [[ $(jobs -rp | wc -l) -ge 2 ]]; do wait -n || true; done
  run_long "$fuzzer" &
  echo "   started $(basename "$fuzzer") ($(date -u +%H:%M:%S))"
done
wait

{
  echo "| Target | Time | Executions | Coverage (edges) | Features | Crashes |"
  echo "|---|---|---|---|---|---|"
  for fuzzer in "${fuzzers[@]}"; do cat "$out/$(basename "$fuzzer" _fuzz)/row"; done
} >"$report"
cat "$report"
failed=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer" _fuzz)
  if ! grep -q '| 0 |$' "$out/$name/row"; then
    failed=1
    cat "$out/$name/kept"
    tail -n 30 "$out/$name/log"
  fi
done
exit "$failed"
