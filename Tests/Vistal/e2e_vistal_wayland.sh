#!/usr/bin/env bash
# e2e_vistal_wayland.sh VISTAL VISTAL_SET_EDID VISTAL_TEST_PEER HEADLESS_DISPLAYS_SCRIPT
#
# Runs the built vistal against a Wayland compositor and colord that this script
# starts itself, in private instances: sway on its headless backend as user nobody
# (four outputs: plain, scale 2, transform 90, scale 1.5), made-up kernel DRM
# connectors under a tmpfs over /sys/class in a private mount namespace (two EDID
# blocks, one empty file, one connector without a file), a system D-Bus of its own
# and colord with devices registered as compositors do (XRANDR_name, OutputEdidMd5).
# Checks every byte of the output and the exit status for: the compositor without a
# bus, without colord, with a device found only by its EDID's MD5, with a device
# deleted; unreachable and stopped compositors with and without DISPLAY; colord
# stopped; VISTAL_DEBUG; late outputs; a silent bus. Stops exactly what it started.
#
# Needs root (the mount namespace, colord's user, sway as another user); exits 77
# (skipped) if not.

set -u

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: this test mounts over /sys/class and starts sway and colord as their own users, which needs root"
  exit 77
fi
if [ $# -ne 4 ]; then
  echo "usage: $0 VISTAL VISTAL_SET_EDID VISTAL_TEST_PEER HEADLESS_DISPLAYS_SCRIPT" >&2
  exit 2
fi
if [ -z "${VISTAL_E2E_OWN_MOUNTS:-}" ]; then
  exec env VISTAL_E2E_OWN_MOUNTS=1 unshare --mount --propagation private bash "$0" "$@"
fi

VISTAL=$(realpath "$1")
export HD_EDID_TOOL
HD_EDID_TOOL=$(realpath "$2")
PEER=$(realpath "$3")
# shellcheck source-path=SCRIPTDIR source=../../scripts/headless-displays.sh
source "$4" || exit 1

missing=""
for tool in sway wayland-info Xorg xrandr dbus-daemon gdbus setpriv unshare md5sum timeout /usr/libexec/colord; do
  command -v "$tool" >/dev/null 2>&1 || missing+=" $tool"
done
if [ -n "$missing" ]; then
  echo "FAIL: missing:$missing (see .ci/packages/vistal.txt)"
  exit 1
fi

STATE=$(mktemp -d /tmp/vistal-e2e-wl.XXXXXX)
OUT=$(mktemp -d /tmp/vistal-e2e-wl-out.XXXXXX)
trap 'hd_stop "$STATE"; rm -rf "$OUT"' EXIT
trap 'exit 130' INT TERM HUP PIPE
unset DISPLAY WAYLAND_DISPLAY VISTAL_DEBUG
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$STATE/no-bus-here"
colord_fingerprint() { find /var/lib/colord -printf '%p %s %T@ %u %m\n' 2>/dev/null | sort | md5sum; }
colord_before=$(colord_fingerprint)

passed=0
failed=0
# check NAME EXPECTED_TEXT EXPECTED_STATUS COMMAND...: compares stdout byte for byte.
check() {
  local name=$1 expected=$2 expected_status=$3 status
  shift 3
  timeout 30 "$@" >"$OUT/actual" 2>"$OUT/stderr"
  status=$?
  printf '%s' "$expected" >"$OUT/expected"
  if cmp -s "$OUT/expected" "$OUT/actual" && [ "$status" = "$expected_status" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: status $status (want $expected_status)"
    diff <(cat -A "$OUT/expected") <(cat -A "$OUT/actual") | sed 's/^/     /'
    sed 's/^/     stderr: /' "$OUT/stderr"
  fi
}
check_true() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
  fi
}

# --- The lab ---------------------------------------------------------------------------
hd_state_init "$STATE"
hd_fake_drm "$STATE" "HEADLESS-1=1920x1080:DEL:0x4082:1001:Lab Left" "HEADLESS-2=3840x2160:GSM:0x5b7f:2002" \
  HEADLESS-3=empty HEADLESS-4=none "HEADLESS-10=1024x768:ABC:1:3" "DUMMY0=1280x1024:NEC:0x6a8d:4" || exit 1
hd_start_sway "$STATE" "mode 1920x1080 position 0 0" "mode 3840x2160 position 1920 0 scale 2" \
  "mode 1920x1200 position 3840 0 transform 90" "mode 1920x1080 position 0 1080 scale 1.5" || exit 1
socket=$WAYLAND_DISPLAY
sway_pid=$(cat "$STATE/sway.pid")
echo "sway on $socket"

# Per wl_output, in announcement order: registry name, output name, xdg-output
# logical position and size, millimetres.
wayland-info >"$OUT/wayland-info"
awk '/^interface: .wl_output.,/ {cur = $NF; order[++n] = cur; in_output = 1; next}
     /^interface: / {in_output = 0}
     in_output && $1 == "name:" {name[cur] = $2}
     in_output && $1 == "physical_width:" {mm[cur] = $2 "x" $5}
     $1 == "output:" {xdg = $2}
     $1 == "logical_x:" {pos[xdg] = ($2 + 0) " " ($4 + 0)}
     $1 == "logical_width:" {size[xdg] = ($2 + 0) " " ($4 + 0)}
     END {for (i = 1; i <= n; i++) {id = order[i]; print id, name[id], pos[id], size[id], mm[id]}}' \
  "$OUT/wayland-info" >"$OUT/outputs"
declare -a id
while read -r global name rest; do
  id[${name#HEADLESS-}]=$global
  echo "$name $rest"
done <"$OUT/outputs" >"$OUT/reported"
printf '%s\n' "HEADLESS-1 0 0 1920 1080 0x0" "HEADLESS-2 1920 0 1920 1080 0x0" "HEADLESS-3 3840 0 1200 1920 0x0" \
  "HEADLESS-4 0 1080 1280 720 0x0" >"$OUT/configured"
check_true "the compositor reports the configured outputs (wayland-info)" cmp -s "$OUT/configured" "$OUT/reported" ||
  diff "$OUT/configured" "$OUT/reported"

line1="ID: ${id[1]} VendorID: 0x10ac ProductID: 0x4082 OriginX: 0 OriginY: 0 Width: 1920 Height: 1080 Resolution: infxinf"
line2="ID: ${id[2]} VendorID: 0x1e6d ProductID: 0x5b7f OriginX: 1920 OriginY: 0 Width: 1920 Height: 1080 Resolution: infxinf"
line3="ID: ${id[3]} VendorID: 0x0000 ProductID: 0x0000 OriginX: 3840 OriginY: 0 Width: 1200 Height: 1920 Resolution: infxinf"
line4="ID: ${id[4]} VendorID: 0x0000 ProductID: 0x0000 OriginX: 0 OriginY: 1080 Width: 1280 Height: 720 Resolution: infxinf"
found=$'Found 4 Displays:\n'
no_profile_for_first() { printf '%s%sUnable to find ICC-Profile for display ID: %d! Error %d' "$found" "$line1" "${id[1]}" "$1"; }

check "compositor without a system bus" "$(no_profile_for_first 4)"$'\n' 4 "$VISTAL"
"$PEER" bus "$STATE/silent-bus" &
peer_pids=($!)
hd_wait_for test -S "$STATE/silent-bus"
start=$(date +%s)
check "a bus that authenticates, then never answers Hello" "$(no_profile_for_first 4)"$'\n' 4 \
  env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$STATE/silent-bus" "$VISTAL"
check_true "the silent bus: gave up within 10 s" test $(($(date +%s) - start)) -le 10
kill "${peer_pids[@]}"
hd_start_bus "$STATE" || exit 1
check "bus without colord" "$(no_profile_for_first 5)"$'\n' 5 "$VISTAL"

blank_path=$(hd_add_profile "$STATE" /usr/share/color/icc/colord/AdobeRGB1998.icc "Lab Profiles/Wide Gamut.icc") || exit 1
hd_start_colord "$STATE" || exit 1
check "colord without devices" "$(no_profile_for_first 6)"$'\n' 6 "$VISTAL"

# Devices as a compositor registers them; the second under another connector name,
# so only its EDID's MD5 finds it.
drm=/sys/class/drm
dev1=$(hd_add_device "$STATE" lab-1 HEADLESS-1 $drm/card0-HEADLESS-1/edid) &&
  dev2=$(hd_add_device "$STATE" lab-2 DP-9 $drm/card0-HEADLESS-2/edid) &&
  dev3=$(hd_add_device "$STATE" lab-3 HEADLESS-3 $drm/card0-HEADLESS-3/edid) &&
  dev4=$(hd_add_device "$STATE" lab-4 HEADLESS-4 /dev/null) &&
  hd_set_default_profile "$dev1" /usr/share/color/icc/sRGB.icc &&
  hd_set_default_profile "$dev2" "$blank_path" &&
  hd_set_default_profile "$dev3" /usr/share/color/icc/colord/AdobeRGB1998.icc &&
  hd_set_default_profile "$dev4" /usr/share/color/icc/colord/ProPhotoRGB.icc || exit 1

full="$found$line1 ICC-Profile: /usr/share/color/icc/sRGB.icc
$line2 ICC-Profile: /var/lib/colord/icc/Lab\\ Profiles/Wide\\ Gamut.icc
$line3 ICC-Profile: /usr/share/color/icc/colord/AdobeRGB1998.icc
$line4 ICC-Profile: /usr/share/color/icc/colord/ProPhotoRGB.icc
"
check "full listing (second output found by its EDID's MD5)" "$full" 0 "$VISTAL"
check "WAYLAND_DISPLAY as a name under XDG_RUNTIME_DIR" "$full" 0 \
  env WAYLAND_DISPLAY="${socket##*/}" XDG_RUNTIME_DIR="${socket%/*}" "$VISTAL"
check "the compositor wins over DISPLAY" "$full" 0 env DISPLAY=":$(hd_free_display_number)" "$VISTAL"
check "VISTAL_DEBUG leaves standard output alone" "$full" 0 env VISTAL_DEBUG=1 "$VISTAL"
for note in "Wayland compositor $socket" "output ${id[2]} HEADLESS-2" "$drm/card0-HEADLESS-1/edid (128 bytes)" \
  "$dev2 (id \"lab-2\", owner 0) by OutputEdidMd5"; do
  check_true "VISTAL_DEBUG notes: $note" grep -qF "$note" "$OUT/stderr"
done
"$VISTAL" >/dev/null 2>"$OUT/quiet"
check_true "nothing on standard error without VISTAL_DEBUG" test ! -s "$OUT/quiet"

# Outputs announced one after the other, each when the one before gets its xdg-output.
mkdir -m 700 "$STATE/peer-runtime"
XDG_RUNTIME_DIR="$STATE/peer-runtime" "$PEER" compositor late 3 &
peer_pids+=($!)
hd_wait_for test -S "$STATE/peer-runtime/late"
late=""
for i in 1 2 3; do
  dev=$(hd_add_device "$STATE" late-$i LATE-$i /dev/null) && hd_set_default_profile "$dev" /usr/share/color/icc/sRGB.icc || exit 1
  late+="ID: $((i + 1)) VendorID: 0x0000 ProductID: 0x0000 OriginX: $((500 * i - 500)) OriginY: 0 Width: 500 Height: 400"
  late+=$' Resolution: 48.106060x48.151657 ICC-Profile: /usr/share/color/icc/sRGB.icc\n'
done
check "outputs announced late: each complete" $'Found 3 Displays:\n'"$late" 0 \
  env WAYLAND_DISPLAY="$STATE/peer-runtime/late" "$VISTAL"
kill "${peer_pids[@]}" 2>/dev/null

gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
  -m org.freedesktop.ColorManager.DeleteDevice "$dev4" >/dev/null || exit 1
check "device of the last output deleted" \
  "${full%"$line4"*}${line4}Unable to find ICC-Profile for display ID: ${id[4]}! Error 6"$'\n' 6 "$VISTAL"

# --- An X server whose output has no EDID property: the kernel's EDID, found by its MD5 ---
hd_start_x "$STATE/x" "1280x1024+0+0,338x270" || exit 1
xorg_pid=$(cat "$STATE/x/xorg.pid")
x_id=$(($(xrandr --verbose | awk '/^DUMMY0 / {o = 1} o && /Identifier:/ {print $2; exit}')))
dev_x=$(hd_add_device "$STATE" lab-x DUMMY-X $drm/card0-DUMMY0/edid) &&
  hd_set_default_profile "$dev_x" /usr/share/color/icc/sRGB.icc || exit 1
x_listing="Found 1 Displays:
ID: $x_id VendorID: 0x38a3 ProductID: 0x6a8d OriginX: 0 OriginY: 0 Width: 1280 Height: 1024 Resolution: 96.189346x96.331848 ICC-Profile: /usr/share/color/icc/sRGB.icc
"
check "X11 output without EDID property: kernel EDID, device by MD5" "$x_listing" 0 env -u WAYLAND_DISPLAY "$VISTAL"

# --- Compositors that cannot be reached ---------------------------------------------------
check "no WAYLAND_DISPLAY, no DISPLAY" $'Unable to get list of displays! Error 1\n' 1 \
  env WAYLAND_DISPLAY= DISPLAY= "$VISTAL"
check "unreachable compositor, no DISPLAY" $'Unable to get list of displays! Error 8\n' 8 \
  env -u DISPLAY WAYLAND_DISPLAY="$STATE/no-compositor" "$VISTAL"
check "unreachable compositor, DISPLAY set: the X server answers" "$x_listing" 0 \
  env WAYLAND_DISPLAY="$STATE/no-compositor" "$VISTAL"
hd_stop "$STATE/x"
unset DISPLAY
kill -STOP "$sway_pid"
start=$(date +%s)
check "stopped compositor" $'Unable to get list of displays! Error 8\n' 8 "$VISTAL"
check_true "stopped compositor: gave up within 15 s" test $(($(date +%s) - start)) -le 15
kill -CONT "$sway_pid"

colord_pid=$(cat "$STATE/colord.pid")
sane_pids=$(ps -o pid= --ppid "$colord_pid")
hd_stop_pid "$STATE/colord.pid" colord
check "colord stopped" "$(no_profile_for_first 5)"$'\n' 5 "$VISTAL"

# --- A compositor with 34 outputs: the first 32 in announcement order ------------------
many=()
for i in $(seq 0 33); do many+=("mode 320x240 position $((i * 320)) 0"); done
hd_start_sway "$STATE/many" "${many[@]}" || exit 1
many_pid=$(cat "$STATE/many/sway.pid")
wayland-info | awk '/^interface: .wl_output.,/ {print $NF}' | head -32 >"$OUT/first32"
env VISTAL_DEBUG=1 "$VISTAL" >"$OUT/many" 2>"$OUT/many-debug"
sed -n -E 's/^vistal: output ([0-9]+) .*/\1/p' "$OUT/many-debug" >"$OUT/listed"
check_true "34 outputs: the count line says 32" test "$(head -1 "$OUT/many")" = "Found 32 Displays:"
check_true "34 outputs: the first 32 globals are listed, in order" cmp -s "$OUT/first32" "$OUT/listed"
hd_stop "$STATE/many"

# --- Leave nothing behind ----------------------------------------------------------------
hd_stop "$STATE"
sleep 0.2
left=""
for pid in "$sway_pid" "$many_pid" "$xorg_pid" "$colord_pid" $sane_pids "${peer_pids[@]}"; do
  hd_pid_alive "$pid" && left+=" $pid($(cat "/proc/$pid/comm" 2>/dev/null))"
done
check_true "every started process is gone${left:+:$left}" test -z "$left"
check_true "the machine's /sys/class is untouched" test ! -e /proc/1/root/sys/class/drm/card0-HEADLESS-1
check_true "/var/lib/colord unchanged" test "$(colord_fingerprint)" = "$colord_before"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
