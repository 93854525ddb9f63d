#!/usr/bin/env bash
# run-vistal.sh [VISTAL-ARGUMENTS...] - builds vistal and runs it.
#
# Builds vistal with CMake into build/run (Release). Then:
#   - with WAYLAND_DISPLAY or DISPLAY set, runs vistal against your session, with
#     your system bus and colord, passing the arguments on;
#   - without either, runs a demo: starts a private headless X server with three
#     outputs (one of them a portrait panel), a private system bus, colord and
#     xiccd, gives each output a sample ICC profile from Debian's packages (one
#     under a path with blanks), runs vistal against it, and stops all of it again;
#   - with VISTAL_DEMO=wayland, runs the same demo on a private headless sway
#     instead (outputs at scale 1, scale 2 and turned by 90 degrees), in a mount
#     namespace of its own whose /sys/class/drm holds the outputs' EDIDs, with
#     colord devices registered as a Wayland compositor registers them.
#     VISTAL_DEMO=x11 asks for the X demo even inside a session;
#   - with VISTAL_DEMO=gnome, kde or weston, runs a desktop's own compositor
#     headless (mutter, kwin_wayland, weston with its colord module) after colord,
#     shows the display devices it registers itself, gives each a sample profile
#     and runs vistal against it.
#   The demos need root.
# When run as root it first installs the Debian packages it needs that are missing;
# run by another user it checks for them first and says what to install.
# The exit status is vistal's (see `man vistal`).

set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/run"

build_packages=(cmake g++ pkg-config libx11-dev libxrandr-dev libglib2.0-dev libgtest-dev)
build_packages+=(libwayland-dev libwayland-bin wayland-protocols)
demo_packages=(dbus dbus-daemon libglib2.0-bin colord colord-data icc-profiles-free util-linux procps xxd)
x11_demo_packages=(xserver-xorg-core xserver-xorg-video-dummy x11-xkb-utils xkb-data x11-xserver-utils xiccd)
wayland_demo_packages=(sway wayland-utils)
declare -A desktop_packages=([gnome]=mutter [kde]=kwin-wayland [weston]="weston hwdata")
declare -A desktop_compositors=([gnome]=mutter [kde]=kwin [weston]=weston)

demo=${VISTAL_DEMO:-}
if [ -z "$demo" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${DISPLAY:-}" ]; then
  demo=x11
fi
case $demo in
"" | x11 | wayland | gnome | kde | weston) ;;
*)
  echo "run-vistal: VISTAL_DEMO is x11, wayland, gnome, kde or weston, not '$demo'" >&2
  exit 1
  ;;
esac

install_missing() {
  local package missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "run-vistal: installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Before anything is built: a user without root learns what is missing and
# what needs root, and nothing is started. Root installs what is missing below.
if [ "$(id -u)" != 0 ]; then
  if [ -n "$demo" ]; then
    [ -n "${VISTAL_DEMO:-}" ] ||
      echo "run-vistal: neither DISPLAY nor WAYLAND_DISPLAY is set, so there is no display of yours to list," >&2
    echo "run-vistal: the headless $demo demo (a display server, system bus and colord of its own) needs root:" >&2
    echo "  sudo ${VISTAL_DEMO:+VISTAL_DEMO=$VISTAL_DEMO }$0 $*" >&2
    exit 1
  fi
  missing=()
  for package in "${build_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "run-vistal: building vistal needs packages that are not installed: ${missing[*]}" >&2
    echo "run-vistal: install them (as root, or through sudo) and run this script again:" >&2
    echo "  sudo apt-get install --no-install-recommends ${build_packages[*]}" >&2
    exit 1
  fi
elif [ -n "${SUDO_USER:-}" ] && [ ! -e "$root/build" ]; then
  # Run through sudo: the build folder stays the user's, so that the user's
  # own builds (scripts/test.sh) can still create their folders in it.
  install -d -o "$SUDO_USER" -g "$(id -g "$SUDO_USER")" "$root/build"
fi

if [ "$(id -u)" = 0 ] && [ -z "${VISTAL_DEMO_INSIDE:-}" ]; then
  case $demo in
  "") install_missing "${build_packages[@]}" ;;
  x11) install_missing "${build_packages[@]}" "${demo_packages[@]}" "${x11_demo_packages[@]}" ;;
  wayland) install_missing "${build_packages[@]}" "${demo_packages[@]}" "${wayland_demo_packages[@]}" ;;
  *) # shellcheck disable=SC2086 # a list of package names
    install_missing "${build_packages[@]}" "${demo_packages[@]}" wayland-utils ${desktop_packages[$demo]} ;;
  esac
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vistal vistal_set_edid -j "$(nproc)" >/dev/null
vistal="$build/Source/Vistal/vistal"

if [ -z "$demo" ]; then
  exec "$vistal" "$@"
fi

if [ "$demo" = wayland ] && [ -z "${VISTAL_DEMO_INSIDE:-}" ]; then
  # Made-up kernel connectors need a /sys/class of their own.
  exec env VISTAL_DEMO_INSIDE=1 unshare --mount --propagation private bash "${BASH_SOURCE[0]}" "$@"
fi

# shellcheck source-path=SCRIPTDIR source=headless-displays.sh
source "$root/scripts/headless-displays.sh"
export HD_EDID_TOOL="$build/Tests/Vistal/vistal_set_edid"
state=$(mktemp -d /tmp/vistal-demo.XXXXXX)
trap 'hd_stop "$state"' EXIT
trap 'exit 130' INT TERM HUP
unset DISPLAY WAYLAND_DISPLAY

if [ -n "${desktop_compositors[$demo]:-}" ]; then
  compositor=${desktop_compositors[$demo]}
  echo "run-vistal: starting a headless demo: $compositor, which registers its displays with colord" >&2
  hd_start_bus "$state"
  hd_start_colord "$state"
  sizes=(1920x1080 1280x1024)
  [ "$compositor" = mutter ] || sizes=(1920x1080 1920x1080) # kwin's outputs share one size, weston has one
  hd_start_compositor "$state" "$compositor" "${sizes[@]}"
  count=${#sizes[@]} && [ "$compositor" = weston ] && count=1
  hd_wait_for test "$(hd_display_devices | wc -l)" -ge "$count"
  profiles=(/usr/share/color/icc/sRGB.icc /usr/share/color/icc/colord/AdobeRGB1998.icc)
  i=0
  for device in $(hd_display_devices); do
    echo "run-vistal: $compositor registered $(hd_device_summary "$device")" >&2
    hd_set_default_profile "$device" "${profiles[i++ % 2]}"
  done
  echo "run-vistal: demo compositor $WAYLAND_DISPLAY; running $vistal $*" >&2
  status=0
  "$vistal" "$@" || status=$?
  exit "$status"
fi

if [ "$demo" = wayland ]; then
  echo "run-vistal: starting a headless demo: sway with three outputs, colord" >&2
  hd_state_init "$state"
  hd_fake_drm "$state" "HEADLESS-1=1920x1080:DEL:0xa0c5:1001:Demo Left" \
    "HEADLESS-2=3840x2160:GSM:0x5b7f:2002:Demo HiDPI" "HEADLESS-3=1920x1200:AUS:0x27a1:3003:Demo Portrait"
  hd_start_sway "$state" "mode 1920x1080 position 0 0" "mode 3840x2160 position 1920 0 scale 2" \
    "mode 1920x1200 position 3840 0 transform 90"
  hd_start_bus "$state"
  wide=$(hd_add_profile "$state" /usr/share/color/icc/colord/AdobeRGB1998.icc "Demo Profiles/Wide Gamut.icc")
  hd_start_colord "$state"
  hd_set_default_profile "$(hd_add_device "$state" demo-1 HEADLESS-1 /sys/class/drm/card0-HEADLESS-1/edid)" \
    /usr/share/color/icc/sRGB.icc
  hd_set_default_profile "$(hd_add_device "$state" demo-2 HEADLESS-2 /sys/class/drm/card0-HEADLESS-2/edid)" \
    /usr/share/color/icc/colord/AdobeRGB1998.icc
  hd_set_default_profile "$(hd_add_device "$state" demo-3 HEADLESS-3 /sys/class/drm/card0-HEADLESS-3/edid)" \
    "$wide"
  echo "run-vistal: demo compositor $WAYLAND_DISPLAY; running $vistal $*" >&2
  status=0
  "$vistal" "$@" || status=$?
  exit "$status"
fi

echo "run-vistal: no DISPLAY, starting a headless demo: three outputs, colord, xiccd" >&2
hd_start_x "$state" \
  "1920x1080+0+0,527x296,DEL:0xa0c5:1001:Demo Left" \
  "1200x1920+1920+0,518x324,GSM:0x5b7f:2002:Demo Portrait" \
  "2560x1440+3120+240,597x336,AUS:0x27a1:3003:Demo Right"
hd_start_bus "$state"
wide=$(hd_add_profile "$state" /usr/share/color/icc/colord/AdobeRGB1998.icc "Demo Profiles/Wide Gamut.icc")
hd_start_colord "$state"
hd_start_xiccd "$state"
hd_assign_profile "$state" DUMMY0 /usr/share/color/icc/sRGB.icc
hd_assign_profile "$state" DUMMY1 /usr/share/color/icc/colord/AdobeRGB1998.icc
hd_assign_profile "$state" DUMMY2 "$wide"
echo "run-vistal: demo display $DISPLAY; running $vistal $*" >&2

status=0
"$vistal" "$@" || status=$?
exit "$status"
