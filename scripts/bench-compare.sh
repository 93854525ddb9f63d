#!/usr/bin/env bash
# Compares two builds of the benchmark program in one session: runs them in
# turn (before, after, and again: ROUNDS rounds) so that both see the same machine, and
# prints one line per benchmark with the best of the runs of each
# (CPU time per iteration; wall-clock time for benchmarks timed by it) and
# the ratio after/before.
#
#   [ROUNDS=2] scripts/bench-compare.sh OLD/vo_benchmarks NEW/vo_benchmarks [FILTER] [OUT.txt]
#
# A ratio above 1.10 is marked "worse". The peers' code is the same in both
# builds, so their ratios show how noisy the machine was.
set -euo pipefail

before=$(realpath "$1")
after=$(realpath "$2")
filter=${3:-.}
out=${4:-/dev/stdout}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rounds=${ROUNDS:-2}
for round in $(seq "$rounds"); do
  for side in before after; do
    bin=$before
    [[ $side == after ]] && bin=$after
    echo "round $round: $side" >&2
    # The benchmarks make their data under the working folder's /tmp files.
    (cd /tmp && "$bin" --benchmark_filter="$filter" --benchmark_format=json \
      --benchmark_out="$work/$side-$round.json" --benchmark_out_format=json >/dev/null)
  done
done

python3 - "$work" "$out" "$rounds" <<'EOF'
import json, sys, os
work, out, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
def load(side):
    best = {}
    for r in range(1, rounds + 1):
        with open(os.path.join(work, f"{side}-{r}.json")) as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("run_type") == "aggregate" or b.get("error_occurred"):
                    continue
                # Benchmarks timed by the wall clock (children, I/O) say so in their name.
                t = b["real_time"] if "/real_time" in b["name"] else b["cpu_time"]
                name, unit = b["name"], b["time_unit"]
                if name not in best or t < best[name][0]:
                    best[name] = (t, unit)
    return best
old, new = load("before"), load("after")
worse = 0
ratios = []
with open(out, "w") as f:
    f.write(f"{'benchmark':60} {'before':>14} {'after':>14} {'ratio':>7}\n")
    for name in old:
        if name not in new:
            continue
        (a, unit), (b, _) = old[name], new[name]
        ratio = b / a if a > 0 else float("nan")
        ratios.append(ratio)
        mark = "  worse" if ratio > 1.10 else ""
        worse += ratio > 1.10
        f.write(f"{name[:60]:60} {a:11.4g} {unit:2} {b:11.4g} {unit:2} {ratio:7.2f}{mark}\n")
    ratios.sort()
    median = ratios[len(ratios) // 2] if ratios else float("nan")
    f.write(f"{worse} of {len(ratios)} benchmarks more than 10 % slower (best of {rounds} runs each); "
            f"median ratio {median:.2f}. Peers (std::string, GKeyFile, nftw, ...) are unchanged code:\n"
            "their ratios show the machine's noise.\n")
EOF
