#!/usr/bin/env bash
# e2e_vistal_desktops.sh mutter|kwin|weston VISTAL HEADLESS_DISPLAYS_SCRIPT
#
# Runs the built vistal against a desktop's own compositor, headless, on a private
# system bus with colord started first, so that the compositor registers its
# displays with colord itself (mutter: XRANDR_name metadata; kwin_wayland: device
# id = output name, no metadata; weston's colord module: an id of its own). The
# test only assigns profiles to those devices, and checks that every display
# device is the compositor's (its OwnerCmdline metadata). Checks the listing byte
# for byte: first with one output's profile (the next output ends in code 7),
# then with all. Stops exactly what it started.
#
# Needs root; exits 77 (skipped) without root or when the compositor is not
# installed or does not start here.

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
OUT=$(mktemp -d /tmp/vistal-e2e-desk-out.XXXXXX)
trap 'hd_stop "$STATE"; rm -rf "$OUT"' EXIT
trap 'exit 130' INT TERM HUP PIPE
unset DISPLAY WAYLAND_DISPLAY VISTAL_DEBUG
failed=0
check() { # NAME EXPECTED STATUS: compares vistal's output byte for byte
  timeout 30 "$VISTAL" >"$OUT/actual" 2>"$OUT/stderr"
  local status=$?
  if [ "$(cat "$OUT/actual"; echo x)" = "$2"$'\n'x ] && [ "$status" = "$3" ]; then
    echo "ok   $1"
  else
    failed=1
    echo "FAIL $1: status $status (want $3)"
    diff <(printf '%s\n' "$2") "$OUT/actual" | sed 's/^/     /'
    VISTAL_DEBUG=1 timeout 30 "$VISTAL" 2>&1 >/dev/null | sed 's/^/     debug: /'
  fi
}

case $kind in
mutter) sizes=(1920x1080 1280x1024) names=(Meta-0 Meta-1) bounds=("0 0 1920 1080" "1920 0 1280 1024") ;;
kwin) sizes=(1920x1080 1920x1080) names=(Virtual-0 Virtual-1) bounds=("0 0 1920 1080" "1920 0 1920 1080") ;;
weston) sizes=(1280x720) names=(headless) bounds=("0 0 1280 720") ;;
*) echo "usage: $0 mutter|kwin|weston VISTAL HEADLESS_DISPLAYS_SCRIPT" >&2; exit 2 ;;
esac
count=${#sizes[@]}

hd_state_init "$STATE"
hd_start_bus "$STATE" || exit 1
blank_path=$(hd_add_profile "$STATE" /usr/share/color/icc/colord/AdobeRGB1998.icc "Lab Profiles/Wide Gamut.icc")
hd_start_colord "$STATE" || exit 1
hd_start_compositor "$STATE" "$kind" "${sizes[@]}"
case $? in
0) ;;
3) echo "SKIP: $kind is not installed (see .ci/packages/vistal.txt)"; exit 77 ;;
*) echo "SKIP: $kind does not start on this machine:"; tail -5 "$STATE/compositor.log"; exit 77 ;;
esac
compositor_pid=$(cat "$STATE/compositor.pid")

display_devices() {
  gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
    -m org.freedesktop.ColorManager.GetDevicesByKind display | grep -o "'/[^']*'" | tr -d "'"
}
hd_wait_for test "$(display_devices | wc -l)" -ge "$count" || { echo "FAIL: $kind registered no devices"; exit 1; }
declare -A device_of
for device in $(display_devices); do
  props=$(gdbus call --system -d org.freedesktop.ColorManager -o "$device" -m org.freedesktop.DBus.Properties.GetAll \
    org.freedesktop.ColorManager.Device)
  id=$(grep -oP "'DeviceId': <'\K[^']*" <<<"$props")
  metadata=$(grep -oP "'Metadata': <\K\{[^}]*\}" <<<"$props")
  echo "$kind registered: id '$id', metadata $metadata"
  [[ $metadata == *"'OwnerCmdline': '"*"${kind/kwin/kwin_wayland}"* ]] || { echo "FAIL: $device is not $kind's"; exit 1; }
  for name in "${names[@]}"; do
    [[ $id == "$name" || $metadata == *"'XRANDR_name': '$name'"* || ($kind == weston && $id == xrandr-weston-$name) ]] &&
      device_of[$name]=$device
  done
done

ids=($(wayland-info | awk '/^interface: .wl_output.,/ {print $NF}'))
lines=()
for i in "${!names[@]}"; do
  read -r x y w h <<<"${bounds[$i]}"
  resolution=infxinf # mutter's virtual monitors report 0 mm, kwin's -1 mm
  [ "$kind" = weston ] && resolution=25.400000x25.400000 # weston's headless outputs: a millimetre a pixel
  lines+=("ID: ${ids[$i]} VendorID: 0x0000 ProductID: 0x0000 OriginX: $x OriginY: $y Width: $w Height: $h Resolution: $resolution")
done
profiles=(/usr/share/color/icc/sRGB.icc "$blank_path")
escaped=(/usr/share/color/icc/sRGB.icc "/var/lib/colord/icc/Lab\\ Profiles/Wide\\ Gamut.icc")

hd_set_default_profile "${device_of[${names[0]}]}" "${profiles[0]}" || exit 1
expected="Found $count Displays:"$'\n'"${lines[0]} ICC-Profile: ${escaped[0]}"
if [ "$count" -gt 1 ]; then
  check "$kind: the second output's device has no profile yet" \
    "$expected"$'\n'"${lines[1]}Unable to find ICC-Profile for display ID: ${ids[1]}! Error 7" 7
  hd_set_default_profile "${device_of[${names[1]}]}" "${profiles[1]}" || exit 1
  expected+=$'\n'"${lines[1]} ICC-Profile: ${escaped[1]}"
fi
check "$kind: the profiles assigned to the compositor's own devices" "$expected" 0
echo "vistal printed:"
cat "$OUT/actual"

children=$(ps -o pid= --ppid "$compositor_pid")
hd_stop "$STATE"
for pid in "$compositor_pid" $children; do
  hd_pid_alive "$pid" && { failed=1; echo "FAIL: process $pid is left"; }
done
[ "$failed" = 0 ]
