#!/usr/bin/env bash
# e2e_vistal_desktops.sh mutter|kwin|weston VISTAL HEADLESS_DISPLAYS_SCRIPT
#
# vistal against a desktop's own compositor, headless, started after colord on a private
# system bus so that it registers its displays itself (checked: OwnerCmdline); the test
# only assigns profiles. Stops what it started. Needs root; exits 77 (skipped) without,
# or when the compositor is missing or cannot start.

set -u
kind=$1
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: colord runs as its own user and the compositor as root, which needs root"
  exit 77
fi
VISTAL=$(realpath "$2")
# shellcheck source-path=SCRIPTDIR source=../../scripts/headless-displays.sh
source "$3" || exit 1

STATE=$(mktemp -d /tmp/vistal-e2e-desk.XXXXXX)
OUT=$(mktemp /tmp/vistal-e2e-desk-out.XXXXXX)
trap 'hd_stop "$STATE"; rm -f "$OUT"' EXIT
trap 'exit 130' INT TERM HUP PIPE
unset DISPLAY WAYLAND_DISPLAY VISTAL_DEBUG
failed=0
check() { # NAME EXPECTED STATUS
  timeout 30 "$VISTAL" >"$OUT"
  local status=$?
  [ "$(cat "$OUT"; echo x)" = "$2"$'\n'x ] && [ "$status" = "$3" ] && { echo "ok   $1"; return; }
  failed=1
  echo "FAIL $1: status $status (want $3)"
  diff <(printf '%s\n' "$2") "$OUT" | sed 's/^/     /'
  VISTAL_DEBUG=1 timeout 30 "$VISTAL" 2>&1 >/dev/null | sed 's/^/     debug: /'
}

case $kind in
mutter) sizes=(1920x1080 1280x1024) names=(Meta-0 Meta-1) bounds=("0 0 1920 1080" "1920 0 1280 1024") ;;
kwin) sizes=(1920x1080 1920x1080) names=(Virtual-0 Virtual-1) bounds=("0 0 1920 1080" "1920 0 1920 1080") ;;
weston) sizes=(1280x720) names=(headless) bounds=("0 0 1280 720") ;;
*) echo "usage: $0 mutter|kwin|weston VISTAL HEADLESS_DISPLAYS_SCRIPT" >&2 && exit 2 ;;
esac
count=${#sizes[@]}
hd_state_init "$STATE"
hd_start_bus "$STATE" || exit 1
hd_add_profile "$STATE" /usr/share/color/icc/colord/AdobeRGB1998.icc "Lab Profiles/Wide Gamut.icc" >/dev/null
hd_start_colord "$STATE" || exit 1
hd_start_compositor "$STATE" "$kind" "${sizes[@]}" ||
  { echo "SKIP: $kind is not installed or does not start here" && tail -5 "$STATE/compositor.log"; exit 77; }
compositor_pid=$(cat "$STATE/compositor.pid")

hd_wait_for test "$(hd_display_devices | wc -l)" -ge "$count" || { echo "FAIL: $kind registered no devices"; exit 1; }
declare -A device_of
for device in $(hd_display_devices); do
  summary=$(hd_device_summary "$device")
  echo "$kind registered: $summary"
  [[ $summary == *"'OwnerCmdline': '"*"${kind/kwin/kwin_wayland}"* ]] || { echo "FAIL: $device is not $kind's"; exit 1; }
  for name in "${names[@]}"; do
    [[ $summary == "id '$name'"* || $summary == *"'XRANDR_name': '$name'"* ||
      $summary == "id 'xrandr-weston-$name'"* ]] && device_of[$name]=$device
  done
done

mapfile -t ids < <(wayland-info | awk '/^interface: .wl_output.,/ {print $NF}')
lines=()
for i in "${!names[@]}"; do
  read -r x y w h <<<"${bounds[$i]}"
  # mutter's virtual monitors report 0 mm, kwin's -1 mm, weston's headless a millimetre a pixel
  resolution=infxinf && [ "$kind" = weston ] && resolution=25.400000x25.400000
  lines+=("ID: ${ids[$i]} VendorID: 0x0000 ProductID: 0x0000 OriginX: $x OriginY: $y Width: $w Height: $h Resolution: $resolution")
done
profiles=(/usr/share/color/icc/sRGB.icc "/var/lib/colord/icc/Lab Profiles/Wide Gamut.icc")
hd_set_default_profile "${device_of[${names[0]}]}" "${profiles[0]}" || exit 1
expected="Found $count Displays:"$'\n'"${lines[0]} ICC-Profile: ${profiles[0]}"
if [ "$count" -gt 1 ]; then
  check "$kind: the second output's device has no profile yet" \
    "$expected"$'\n'"${lines[1]}Unable to find ICC-Profile for display ID: ${ids[1]}! Error 7" 7
  hd_set_default_profile "${device_of[${names[1]}]}" "${profiles[1]}" || exit 1
  expected+=$'\n'"${lines[1]} ICC-Profile: ${profiles[1]// /\\ }"
fi
check "$kind: the profiles assigned to the compositor's own devices" "$expected" 0
echo "vistal printed:" && cat "$OUT"
children=$(ps -o pid= --ppid "$compositor_pid")
hd_stop "$STATE"
for pid in "$compositor_pid" $children; do
  hd_pid_alive "$pid" && { failed=1; echo "FAIL: process $pid is left"; }
done
[ "$failed" = 0 ]
