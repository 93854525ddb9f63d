#!/usr/bin/env bash
# e2e_vistal.sh VISTAL VISTAL_SET_EDID HEADLESS_DISPLAYS_SCRIPT
#
# Runs the built vistal against real components that this script starts itself,
# in private instances: Xorg with the dummy driver on a free display number from
# :73 up (five outputs: four active at different places with known millimetre
# sizes, three of them with EDID blocks, and one connected but switched off), a
# system D-Bus of its own, colord with a private state folder, and xiccd. Checks
# every byte of the output and the exit status for:
#   - the option words, no DISPLAY, a display number where no server runs, and
#     an X server without the RandR extension;
#   - an X server with no bus, a bus without colord, colord without devices;
#   - the full stack with profiles on three outputs (one of them under a path with
#     blanks) and none on the last one;
#   - colord and the X server each stopped (SIGSTOP) so that they do not answer.
# Stops exactly the processes it started, by pid, and checks that they are gone,
# that no X lock file is left and that the real /var/lib/colord is unchanged.
#
# Needs root (Xorg, colord's user, a mount namespace); exits 77 (skipped) if not.

set -u

if [ "$(id -u)" != 0 ]; then
  echo "SKIP: this test starts Xorg, a system bus and colord as their own users, which needs root"
  exit 77
fi
if [ $# -ne 3 ]; then
  echo "usage: $0 VISTAL VISTAL_SET_EDID HEADLESS_DISPLAYS_SCRIPT" >&2
  exit 2
fi

VISTAL=$(realpath "$1")
export HD_EDID_TOOL
HD_EDID_TOOL=$(realpath "$2")
# shellcheck source-path=SCRIPTDIR source=../../scripts/headless-displays.sh
source "$3" || exit 1

missing=""
for tool in Xorg xrandr dbus-daemon gdbus xiccd setpriv unshare xxd md5sum timeout /usr/libexec/colord; do
  command -v "$tool" >/dev/null 2>&1 || missing+=" $tool"
done
for file in /usr/share/color/icc/sRGB.icc /usr/share/color/icc/colord/AdobeRGB1998.icc \
  /usr/lib/xorg/modules/drivers/dummy_drv.so; do
  [ -e "$file" ] || missing+=" $file"
done
if [ -n "$missing" ]; then
  echo "FAIL: missing:$missing (see .ci/packages/vistal.txt)"
  exit 1
fi

STATE=$(mktemp -d /tmp/vistal-e2e.XXXXXX)
NORANDR=$(mktemp -d /tmp/vistal-e2e-norandr.XXXXXX)
OUT=$(mktemp -d /tmp/vistal-e2e-out.XXXXXX)
started_pids=()
cleanup() {
  hd_stop "$NORANDR"
  hd_stop "$STATE"
  rm -rf "$OUT"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP PIPE

# Nothing here may reach the machine's own system bus, if it has one.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$STATE/no-bus-here"

colord_fingerprint() {
  find /var/lib/colord -printf '%p %s %T@ %u %m\n' 2>/dev/null | sort | md5sum
}
colord_before=$(colord_fingerprint)

passed=0
failed=0

# check NAME EXPECTED_TEXT EXPECTED_STATUS COMMAND...: compares stdout byte for byte.
check() {
  local name=$1 expected=$2 expected_status=$3
  shift 3
  local status
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

# check_true NAME COMMAND...: a condition that must hold.
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

usage=$'Vistal [options]\nOptions:\n  -h or -? show this help text\n  -v show version\n\n'

# --- No X server needed --------------------------------------------------------
check "-h prints the usage" "$usage" 0 "$VISTAL" -h
check "-? prints the usage" "$usage" 0 "$VISTAL" "-?"
"$VISTAL" -v >"$OUT/version"
check_true "-v prints one line starting Vistal v1.2" \
  test "$(head -c 11 "$OUT/version")" = "Vistal v1.2" -a "$(wc -l <"$OUT/version")" = 1
check "no DISPLAY" $'Unable to get list of displays! Error 1\n' 1 env -u DISPLAY "$VISTAL"
check "-vv without DISPLAY lists (and fails)" $'Unable to get list of displays! Error 1\n' 1 \
  env -u DISPLAY "$VISTAL" -vv
free_number=$(hd_free_display_number)
check "no server on the display" $'Unable to get list of displays! Error 2\n' 2 \
  env DISPLAY=":$free_number" "$VISTAL"

# --- An X server without RandR -----------------------------------------------------
HD_XORG_ARGS="-extension RANDR" hd_start_x "$NORANDR" "1024x768+0+0" || exit 1
started_pids+=("$(cat "$NORANDR/xorg.pid")")
norandr_number=$(cat "$NORANDR/display-number")
check "X server without RandR" $'Unable to get list of displays! Error 3\n' 3 "$VISTAL"
hd_stop "$NORANDR"
unset DISPLAY

# --- X server alone -------------------------------------------------------------
hd_start_x "$STATE" \
  "1920x1080+0+0,598x336,DEL:0x4082:1001:Office Left" \
  "1200x1920+1920+0,518x324,GSM:0x5b7f:2002:Portrait" \
  "off,600x340" \
  "1280x1024+3120+200,338x270" \
  "1024x768+4400+0,0x0,ABC:1:3:Last" || exit 1
started_pids+=("$(cat "$STATE/xorg.pid")")
display_number=$(cat "$STATE/display-number")
echo "X server on $DISPLAY"

# RandR ids as xrandr reports them, in decimal.
declare -A id
while read -r output hex; do
  id[$output]=$((hex))
done < <(xrandr --verbose | awk '/^[A-Z]/ {name=$1} /Identifier:/ {print name, $2}')

line0="ID: ${id[DUMMY0]} VendorID: 0x10ac ProductID: 0x4082 OriginX: 0 OriginY: 0 Width: 1920 Height: 1080 Resolution: 81.551842x81.642860"
line1="ID: ${id[DUMMY1]} VendorID: 0x1e6d ProductID: 0x5b7f OriginX: 1920 OriginY: 0 Width: 1200 Height: 1920 Resolution: 94.074074x94.146721"
line3="ID: ${id[DUMMY3]} VendorID: 0x0000 ProductID: 0x0000 OriginX: 3120 OriginY: 200 Width: 1280 Height: 1024 Resolution: 96.189346x96.331848"
line4="ID: ${id[DUMMY4]} VendorID: 0x0443 ProductID: 0x0001 OriginX: 4400 OriginY: 0 Width: 1024 Height: 768 Resolution: infxinf"
found=$'Found 4 Displays:\n'
# The listing when the first display's profile cannot be found (no final line end).
no_profile_for_first() { printf '%s%sUnable to find ICC-Profile for display ID: %d! Error %d' "$found" "$line0" "${id[DUMMY0]}" "$1"; }

check "X server without a system bus" "$(no_profile_for_first 4)"$'\n' 4 "$VISTAL"

# --- A bus without colord ---------------------------------------------------------
hd_start_bus "$STATE" || exit 1
started_pids+=("$(cat "$STATE/bus.pid")")
check "bus without colord" "$(no_profile_for_first 5)"$'\n' 5 "$VISTAL"

# --- colord without devices -------------------------------------------------------
blank_path=$(hd_add_profile "$STATE" /usr/share/color/icc/colord/AdobeRGB1998.icc "Vistal Test/My Display.icc") || exit 1
hd_start_colord "$STATE" || exit 1
colord_pid=$(cat "$STATE/colord.pid")
started_pids+=("$colord_pid")
check "colord without a device for the output" "$(no_profile_for_first 6)"$'\n' 6 "$VISTAL"

# --- The full stack ------------------------------------------------------------------
hd_start_xiccd "$STATE" || exit 1
started_pids+=("$(cat "$STATE/xiccd.pid")")
hd_assign_profile "$STATE" DUMMY0 /usr/share/color/icc/sRGB.icc || exit 1
hd_assign_profile "$STATE" DUMMY1 "$blank_path" || exit 1
hd_assign_profile "$STATE" DUMMY3 /usr/share/color/icc/colord/AdobeRGB1998.icc || exit 1

full="$found$line0 ICC-Profile: /usr/share/color/icc/sRGB.icc
$line1 ICC-Profile: /var/lib/colord/icc/Vistal\\ Test/My\\ Display.icc
$line3 ICC-Profile: /usr/share/color/icc/colord/AdobeRGB1998.icc
${line4}Unable to find ICC-Profile for display ID: ${id[DUMMY4]}! Error 7
"
check "full listing, last output without a profile" "$full" 7 "$VISTAL"
check "-x lists like no argument" "$full" 7 "$VISTAL" -x
check "-v followed by more characters lists" "$full" 7 "$VISTAL" -vx

# --- Components that do not answer ---------------------------------------------------
kill -STOP "$colord_pid"
start=$(date +%s)
check "colord not answering" "$(no_profile_for_first 5)"$'\n' 5 "$VISTAL"
check_true "colord timeout stays within 15 s" test $(($(date +%s) - start)) -le 15
if ! kill -CONT "$colord_pid"; then
  # colord ended while it was stopped: only a KILL does that; say what is known.
  echo "note colord ($colord_pid) has gone; its log:"
  sed 's/^/     /' "$STATE/colord.log" | tail -20
fi

xorg_pid=$(cat "$STATE/xorg.pid")
kill -STOP "$xorg_pid"
start=$(date +%s)
check "X server not answering" $'Unable to get list of displays! Error 2\n' 2 "$VISTAL"
check_true "X server timeout stays within 15 s" test $(($(date +%s) - start)) -le 15
kill -CONT "$xorg_pid"
check "listing again after both answer" "$full" 7 "$VISTAL"

# --- Leave nothing behind ----------------------------------------------------------------
# colord's helpers (colord-sane) are its children; they must end with it.
for pid in $(ps -o pid= --ppid "$colord_pid"); do
  started_pids+=("$pid")
done
hd_stop "$STATE"
sleep 0.2
left=""
for pid in "${started_pids[@]}"; do
  if [ -e "/proc/$pid" ] && [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ]; then
    left+=" $pid($(cat "/proc/$pid/comm" 2>/dev/null))"
  fi
done
check_true "every started process is gone${left:+:$left}" test -z "$left"
for number in "$norandr_number" "$display_number"; do
  check_true "no X lock file or socket left for :$number" test ! -e "/tmp/.X$number-lock" -a ! -e "/tmp/.X11-unix/X$number"
done
check_true "state folders removed" test ! -e "$STATE" -a ! -e "$NORANDR"
check_true "/var/lib/colord unchanged" test "$(colord_fingerprint)" = "$colord_before"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
