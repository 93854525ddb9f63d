#!/usr/bin/env bash
# vistal_bench.sh [RUNS] [x11|wayland] - how long one vistal run takes, next to the
# usual tools.
#
# Builds vistal (Release, build/run), starts the private headless setup of
# scripts/headless-displays.sh with three active outputs, each with EDID and a
# colord profile, and times in the same run:
#   vistal                                   (displays and profiles in one run)
#   xrandr --verbose; colormgr get-devices   (the same facts from the usual tools)
# x11 (the default): Xorg with the dummy driver and xiccd, outputs with physical
# sizes. wayland: sway on its headless backend (scale 1, scale 2, turned by 90
# degrees) with made-up kernel connectors in a private mount namespace and colord
# devices registered as compositors do; the tools are then
#   wayland-info; colormgr get-devices
# with hyperfine when it is installed, or else a loop of RUNS runs timed with
# date +%s%N. Prints the mean of each and their ratio. Needs root (Xorg, colord).
# Set VISTAL and VISTAL_SET_EDID to use binaries built elsewhere.

set -euo pipefail

runs=${1:-200}
server=${2:-x11}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ "$(id -u)" != 0 ]; then
  echo "vistal_bench: needs root to start Xorg and colord" >&2
  exit 1
fi
if [ -z "${VISTAL:-}" ]; then
  cmake -S "$root" -B "$root/build/run" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build/run" --target vistal vistal_set_edid -j "$(nproc)" >/dev/null
  VISTAL="$root/build/run/Source/Vistal/vistal"
  VISTAL_SET_EDID="$root/build/run/Tests/Vistal/vistal_set_edid"
fi

if [ "$server" = wayland ] && [ -z "${VISTAL_BENCH_INSIDE:-}" ]; then
  # The made-up kernel connectors need a /sys/class of their own.
  exec env VISTAL_BENCH_INSIDE=1 VISTAL="$VISTAL" VISTAL_SET_EDID="${VISTAL_SET_EDID:-}" \
    unshare --mount --propagation private bash "${BASH_SOURCE[0]}" "$runs" "$server"
fi

# shellcheck source-path=SCRIPTDIR source=../scripts/headless-displays.sh
source "$root/scripts/headless-displays.sh"
export HD_EDID_TOOL=${VISTAL_SET_EDID:-}
state=$(mktemp -d /tmp/vistal-bench.XXXXXX)
work=$(mktemp -d /tmp/vistal-bench-out.XXXXXX)
trap 'hd_stop "$state"; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
unset DISPLAY WAYLAND_DISPLAY

case $server in
x11)
  hd_start_x "$state" \
    "1920x1080+0+0,527x296,DEL:0xa0c5:1001:Bench Left" \
    "1200x1920+1920+0,518x324,GSM:0x5b7f:2002:Bench Portrait" \
    "2560x1440+3120+0,597x336,AUS:0x27a1:3003:Bench Right"
  hd_start_bus "$state"
  hd_start_colord "$state"
  hd_start_xiccd "$state"
  hd_assign_profile "$state" DUMMY0 /usr/share/color/icc/sRGB.icc
  hd_assign_profile "$state" DUMMY1 /usr/share/color/icc/colord/AdobeRGB1998.icc
  hd_assign_profile "$state" DUMMY2 /usr/share/color/icc/colord/ProPhotoRGB.icc
  tools_name="xrandr --verbose + colormgr get-devices"
  tools_cmd="xrandr --verbose >/dev/null; colormgr get-devices >/dev/null"
  ;;
wayland)
  hd_state_init "$state"
  hd_fake_drm "$state" "HEADLESS-1=1920x1080:DEL:0xa0c5:1001:Bench Left" \
    "HEADLESS-2=3840x2160:GSM:0x5b7f:2002:Bench HiDPI" "HEADLESS-3=1920x1200:AUS:0x27a1:3003:Bench Portrait"
  hd_start_sway "$state" "mode 1920x1080 position 0 0" "mode 3840x2160 position 1920 0 scale 2" \
    "mode 1920x1200 position 3840 0 transform 90"
  hd_start_bus "$state"
  hd_start_colord "$state"
  for n in 1 2 3; do
    device=$(hd_add_device "$state" "bench-$n" "HEADLESS-$n" "/sys/class/drm/card0-HEADLESS-$n/edid")
    profile=(/usr/share/color/icc/sRGB.icc /usr/share/color/icc/colord/AdobeRGB1998.icc
      /usr/share/color/icc/colord/ProPhotoRGB.icc)
    hd_set_default_profile "$device" "${profile[n - 1]}"
  done
  tools_name="wayland-info + colormgr get-devices"
  tools_cmd="wayland-info >/dev/null; colormgr get-devices >/dev/null"
  ;;
*)
  echo "vistal_bench: the display server is x11 or wayland, not '$server'" >&2
  exit 1
  ;;
esac

"$VISTAL" >"$work/listing"
echo "vistal output on the bench setup:"
cat "$work/listing"
echo

load=$(cut -d' ' -f1-3 /proc/loadavg)
vistal_cmd="$VISTAL"

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 10 --runs "$runs" --export-csv "$work/times.csv" \
    --command-name vistal "$vistal_cmd" \
    --command-name "$tools_name" "$tools_cmd"
  # CSV columns: command,mean,stddev,median,user,system,min,max (seconds)
  vistal_ms=$(awk -F, 'NR == 2 {printf "%.3f", $2 * 1000}' "$work/times.csv")
  tools_ms=$(awk -F, 'NR == 3 {printf "%.3f", $2 * 1000}' "$work/times.csv")
  vistal_median_ms=$(awk -F, 'NR == 2 {printf "%.3f", $4 * 1000}' "$work/times.csv")
  tools_median_ms=$(awk -F, 'NR == 3 {printf "%.3f", $4 * 1000}' "$work/times.csv")
  # CPU time (user + system) suffers least from other load on the machine.
  vistal_cpu_ms=$(awk -F, 'NR == 2 {printf "%.3f", ($5 + $6) * 1000}' "$work/times.csv")
  tools_cpu_ms=$(awk -F, 'NR == 3 {printf "%.3f", ($5 + $6) * 1000}' "$work/times.csv")
  method="hyperfine, $runs runs each after 10 warm-up runs"
else
  time_loop() {
    local start end i
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do
      bash -c "$1" >/dev/null 2>&1 || true
    done
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v n="$runs" 'BEGIN {printf "%.3f", ns / n / 1e6}'
  }
  vistal_ms=$(time_loop "$vistal_cmd")
  tools_ms=$(time_loop "$tools_cmd")
  method="loop of $runs runs each through bash -c, timed with date +%s%N"
fi

echo
echo "method: $method; load average before: $load"
printf '%-42s %10s ms mean' "vistal:" "$vistal_ms"
[ -n "${vistal_median_ms:-}" ] && printf ', %s ms median' "$vistal_median_ms"
printf '\n%-42s %10s ms mean' "$tools_name:" "$tools_ms"
[ -n "${tools_median_ms:-}" ] && printf ', %s ms median' "$tools_median_ms"
echo
awk -v a="$vistal_ms" -v b="$tools_ms" 'BEGIN {printf "%-42s %10.2f (mean)\n", "ratio tools / vistal:", b / a}'
if [ -n "${vistal_median_ms:-}" ]; then
  awk -v a="$vistal_median_ms" -v b="$tools_median_ms" \
    'BEGIN {printf "%-42s %10.2f (median)\n", "ratio tools / vistal:", b / a}'
  printf '%-42s %10s ms vistal, %s ms tools' "CPU time (user + system), mean:" "$vistal_cpu_ms" "$tools_cpu_ms"
  awk -v a="$vistal_cpu_ms" -v b="$tools_cpu_ms" 'BEGIN {printf ", ratio %.2f\n", b / a}'
fi
