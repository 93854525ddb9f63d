#!/usr/bin/env bash
# headless-displays.sh - a throw-away display and colour-management stack for tests
# and demos on a machine without a screen: Xorg with the dummy driver on a private
# display number, or sway on its headless backend with made-up kernel DRM
# connectors; a private system D-Bus, colord with a private state folder, and
# xiccd or devices registered the way Wayland compositors do it. Every process it starts is recorded by pid in STATE_DIR and stopped by
# that pid; nothing outside STATE_DIR is changed. Needs root (Xorg, colord's user,
# a private mount namespace for colord's database).
#
# STATE_DIR is a folder for one stack alone (for instance from mktemp -d); stop
# removes it with everything in it.
#
# As a command:
#   headless-displays.sh start-x STATE_DIR OUTPUT...   X server, one output per OUTPUT
#   headless-displays.sh start-bus STATE_DIR           private system bus
#   headless-displays.sh start-colord STATE_DIR        colord (needs the bus)
#   headless-displays.sh start-xiccd STATE_DIR         xiccd: one colord device per output
#   headless-displays.sh start-sway STATE_DIR OUTPUT...
#                      sway, headless, as user nobody; OUTPUT is what follows
#                      "output HEADLESS-n" in its config ("mode 1920x1080 position 0 0
#                      scale 2"); exports WAYLAND_DISPLAY (the socket's full path)
#   headless-displays.sh start-compositor STATE_DIR mutter|kwin|weston WxH...
#                      a desktop's compositor, headless, as root, with a session bus
#                      of its own: mutter (GNOME) one virtual monitor per WxH side by
#                      side, kwin_wayland (KDE Plasma) one virtual output per WxH (all
#                      of the first size), weston one headless output of the first
#                      size with its colord module; start it after colord to have it
#                      register its displays (never on the machine's own bus: without
#                      start-bus it has none). Exports WAYLAND_DISPLAY
#   headless-displays.sh add-device STATE_DIR ID OUTPUT EDID_FILE
#                      a colord display device as a compositor creates it:
#                      XRANDR_name=OUTPUT, OutputEdidMd5=MD5 of EDID_FILE (if it is
#                      not empty); kept across restarts of colord (scope disk)
#   headless-displays.sh add-profile STATE_DIR SOURCE NAME
#                      copy of an ICC file as NAME in colord's private icc folder
#                      (before start-colord); prints the path colord will report
#   headless-displays.sh assign-profile STATE_DIR OUTPUT PROFILE_PATH
#   headless-displays.sh env STATE_DIR                 export lines for DISPLAY and the bus
#   headless-displays.sh stop STATE_DIR                stop everything, remove STATE_DIR
# or source it and call the hd_* functions (they also export DISPLAY and
# DBUS_SYSTEM_BUS_ADDRESS into the calling shell); they work under `set -eu`.
# Sourcing is better for tests: the daemons are then children of the test's shell,
# which reaps them when it stops them.
#
# hd_fake_drm STATE_DIR CONNECTOR=EDID... (sourced use only, in a private mount
# namespace, e.g. under `unshare -m`): mounts a tmpfs over /sys/class, binds the
# machine's own classes back apart from drm, and makes /sys/class/drm/card0-CONNECTOR
# with an edid file: EDID is WIDTHxHEIGHT:MFG:PRODUCT:SERIAL[:NAME] for a valid block
# (needs vistal_set_edid), "empty" for an empty file, "none" for no file.
#
# HD_XORG_ARGS, if set, adds words to Xorg's command line (e.g. "-extension RANDR").
#
# OUTPUT is  WIDTHxHEIGHT+X+Y[,MMWxMMH][,MFG:PRODUCT:SERIAL[:NAME]]  for an active
# output, or  off[,MMWxMMH]  for one that is connected but drives no CRTC. Outputs
# are named DUMMY0, DUMMY1, ... in the order given. MFG:PRODUCT:SERIAL gives the
# output an EDID block (three capital letters, numbers in C notation); this needs
# the tool vistal_set_edid, found through $HD_EDID_TOOL or on PATH.
#
# State colord would write to /var/lib/colord (its database and icc folder) goes
# to STATE_DIR/colord-state instead: colord runs in a private mount namespace in
# which that folder is mounted over /var/lib/colord. A profile added with
# add-profile is therefore reported as /var/lib/colord/icc/NAME.

HD_MARKER=.headless-displays
HD_TIMEOUT_S=${HD_TIMEOUT_S:-15}

hd_die() {
  echo "headless-displays: $*" >&2
  return 1
}

# Polls COMMAND... every 0.1 s until it succeeds or HD_TIMEOUT_S pass.
hd_wait_for() {
  local tries=$((HD_TIMEOUT_S * 10))
  while ((tries-- > 0)); do
    if "$@" >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

hd_state_init() {
  local state=$1
  [ -n "$state" ] || { hd_die "no state folder given"; return 1; }
  mkdir -p "$state" || return 1
  touch "$state/$HD_MARKER"
}

hd_need_state() {
  [ -f "$1/$HD_MARKER" ] || { hd_die "$1 is not a state folder of this script"; return 1; }
}

# A modeline for WIDTHxHEIGHT at 60 Hz with short blanking.
hd_modeline() {
  local w=$1 h=$2
  local ht=$((w + 160)) vt=$((h + 35))
  local khz=$((ht * vt * 60 / 1000))
  printf '"%dx%d" %d.%03d %d %d %d %d %d %d %d %d +hsync -vsync' "$w" "$h" \
    $((khz / 1000)) $((khz % 1000)) "$w" $((w + 48)) $((w + 80)) "$ht" "$h" $((h + 3)) $((h + 8)) "$vt"
}

# First display number from 73 up without a lock file or socket.
hd_free_display_number() {
  local n
  for ((n = 73; n < 200; n++)); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}

hd_find_edid_tool() {
  if [ -n "${HD_EDID_TOOL:-}" ] && [ -x "$HD_EDID_TOOL" ]; then
    echo "$HD_EDID_TOOL"
  else
    command -v vistal_set_edid
  fi
}

# hd_start_x STATE_DIR OUTPUT...
hd_start_x() {
  local state=$1
  shift
  hd_state_init "$state" || return 1
  if [ $# -lt 1 ] || [ $# -gt 16 ]; then
    hd_die "give 1 to 16 outputs"
    return 1
  fi

  local conf=$state/xorg.conf
  local device_options="" monitors="" wanted i=0 max_x=640 max_y=480
  local -a mm_settings=() edid_settings=() off_outputs=()
  for wanted in "$@"; do
    local geometry mm="" edid="" field
    local -a fields=()
    IFS=, read -r -a fields <<<"$wanted"
    geometry=${fields[0]:-}
    for field in "${fields[@]:1}"; do
      if [[ $field =~ ^[0-9]+x[0-9]+$ ]]; then
        mm=$field
      elif [[ $field =~ ^[A-Z]{3}:[^:]+:[^:]+(:.*)?$ ]]; then
        edid=$field
      else
        hd_die "bad field '$field' in output '$wanted'"
        return 1
      fi
    done
    device_options+="  Option \"Monitor-DUMMY$i\" \"M$i\""$'\n'
    if [ "$geometry" = off ]; then
      # Switched off once the server runs: connected, but without a CRTC.
      geometry=1024x768+0+0
      off_outputs+=(--output "DUMMY$i" --off)
    fi
    if [[ $geometry =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]; then
      local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
      ((x + w > max_x)) && max_x=$((x + w))
      ((y + h > max_y)) && max_y=$((y + h))
      monitors+="Section \"Monitor\"
  Identifier \"M$i\"
  HorizSync 1-1000
  VertRefresh 1-240
  Modeline $(hd_modeline "$w" "$h")
  Option \"PreferredMode\" \"${w}x${h}\"
  Option \"Position\" \"$x $y\"
  Option \"Enable\" \"true\"
EndSection
"
      [ -n "$edid" ] && edid_settings+=("DUMMY$i:$edid")
    else
      hd_die "bad geometry '$geometry' (want WIDTHxHEIGHT+X+Y or off)"
      return 1
    fi
    [ -n "$mm" ] && mm_settings+=(--output "DUMMY$i" --set WIDTH_MM "${mm%x*}" --set HEIGHT_MM "${mm#*x}")
    i=$((i + 1))
  done
  local video_ram=$(((max_x * max_y * 4 + 1023) / 1024 + 1024))

  cat >"$conf" <<EOF
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "AutoAddGPU" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam $video_ram
$device_options
EndSection
$monitors
Section "Screen"
  Identifier "screen"
  Device "dummy"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual $max_x $max_y
  EndSubSection
EndSection
EOF

  local attempt number pid
  for attempt in 1 2 3; do
    number=$(hd_free_display_number) || { hd_die "no free display number"; return 1; }
    # shellcheck disable=SC2086 # HD_XORG_ARGS holds several words
    env -u DBUS_SYSTEM_BUS_ADDRESS Xorg ":$number" -config "$conf" -noreset -nolisten tcp \
      -logfile "$state/xorg.log" ${HD_XORG_ARGS:-} >"$state/xorg.out" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$state/xorg.pid"
    echo "$number" >"$state/display-number"
    if hd_wait_for hd_x_ready "$pid" ":$number"; then
      break
    fi
    hd_stop_pid "$state/xorg.pid" Xorg
    rm -f "$state/display-number"
    [ "$attempt" = 3 ] && { hd_die "Xorg did not start (see $state/xorg.log)"; return 1; }
  done
  export DISPLAY=":$number"

  if [ ${#off_outputs[@]} -gt 0 ]; then
    xrandr "${off_outputs[@]}" || { hd_die "xrandr could not switch outputs off"; return 1; }
  fi
  if [ ${#mm_settings[@]} -gt 0 ]; then
    xrandr "${mm_settings[@]}" || { hd_die "xrandr could not set the physical sizes"; return 1; }
  fi
  if [ ${#edid_settings[@]} -gt 0 ]; then
    local tool setting output mfg product serial name
    tool=$(hd_find_edid_tool) || { hd_die "vistal_set_edid not found (set HD_EDID_TOOL)"; return 1; }
    for setting in "${edid_settings[@]}"; do
      IFS=: read -r output mfg product serial name <<<"$setting"
      "$tool" "$output" "$mfg" "$product" "$serial" ${name:+"$name"} || return 1
    done
  fi
  # The dummy driver copies WIDTH_MM/HEIGHT_MM into the outputs' physical size only
  # when they are probed, which plain `xrandr` does.
  if [ ${#mm_settings[@]} -gt 0 ]; then
    xrandr >/dev/null || { hd_die "xrandr could not probe the outputs"; return 1; }
  fi
}

hd_x_ready() {
  kill -0 "$1" 2>/dev/null || return 2
  xset -display "$2" q
}

hd_write_bus_config() {
  local state=$1
  cat >"$state/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$state/bus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <include ignore_missing="yes">/usr/share/dbus-1/system.d/org.freedesktop.ColorManager.conf</include>
</busconfig>
EOF
}

# hd_start_bus STATE_DIR: a system bus of its own (no service activation), so
# that colord runs only when started here.
hd_start_bus() {
  local state=$1
  hd_state_init "$state" || return 1
  mkdir -p "$state/bus"
  chmod 755 "$state" "$state/bus"
  hd_write_bus_config "$state"
  dbus-daemon --config-file="$state/bus.conf" --nofork --nopidfile >"$state/bus.log" 2>&1 </dev/null &
  echo $! >"$state/bus.pid"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$state/bus/system_bus_socket"
  hd_wait_for gdbus call --system -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.GetId || { hd_die "the bus did not start (see $state/bus.log)"; return 1; }
}

hd_colord_state() {
  local state=$1
  if [ ! -d "$state/colord-state/icc" ]; then
    mkdir -p "$state/colord-state/icc"
    chown -R colord:colord "$state/colord-state"
  fi
  echo "$state/colord-state"
}

# hd_add_profile STATE_DIR SOURCE NAME: colord ignores an exact copy of a profile
# it already knows, so the copy gets a profile ID of its own (header bytes 84-99).
hd_add_profile() {
  local state=$1 source=$2 name=$3 dir
  hd_state_init "$state" || return 1
  dir=$(hd_colord_state "$state")/icc
  mkdir -p "$(dirname "$dir/$name")"
  cp "$source" "$dir/$name" || return 1
  printf '%s' "$name" | md5sum | cut -c1-32 | xxd -r -p |
    dd of="$dir/$name" bs=1 seek=84 conv=notrunc status=none || return 1
  chown -R colord:colord "$dir"
  echo "/var/lib/colord/icc/$name"
}

hd_colord_up() {
  gdbus call --system -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner org.freedesktop.ColorManager | grep -q true
}

# hd_start_colord STATE_DIR: colord as its own user, with STATE_DIR/colord-state
# mounted over /var/lib/colord in a mount namespace of its own.
hd_start_colord() {
  local state=$1 colord_state
  hd_need_state "$state" || return 1
  [ -n "${DBUS_SYSTEM_BUS_ADDRESS:-}" ] || { hd_die "start the bus first"; return 1; }
  colord_state=$(hd_colord_state "$state")
  # shellcheck disable=SC2016 # $1 is expanded by the inner shell
  unshare --mount --propagation private \
    sh -c 'mount --bind "$1" /var/lib/colord && exec setpriv --reuid=colord --regid=colord --init-groups /usr/libexec/colord' \
    colord "$colord_state" >"$state/colord.log" 2>&1 </dev/null &
  echo $! >"$state/colord.pid"
  hd_wait_for hd_colord_up || { hd_die "colord did not start (see $state/colord.log)"; return 1; }
}

hd_device_of() {
  gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
    -m org.freedesktop.ColorManager.FindDeviceByProperty XRANDR_name "$1" 2>/dev/null |
    sed -n -E "s/^\(objectpath '(.*)',\)$/\1/p" | grep .
}

hd_profile_of() {
  gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
    -m org.freedesktop.ColorManager.FindProfileByFilename "$1" 2>/dev/null |
    sed -n -E "s/^\(objectpath '(.*)',\)$/\1/p" | grep .
}

# hd_start_xiccd STATE_DIR: waits until every active output has its device.
hd_start_xiccd() {
  local state=$1 output
  hd_need_state "$state" || return 1
  [ -n "${DISPLAY:-}" ] || { hd_die "start the X server first"; return 1; }
  mkdir -p "$state/xiccd-home"
  env HOME="$state/xiccd-home" XDG_DATA_HOME="$state/xiccd-home/data" \
    XDG_CONFIG_HOME="$state/xiccd-home/config" XDG_CACHE_HOME="$state/xiccd-home/cache" \
    xiccd -d "$DISPLAY" >"$state/xiccd.log" 2>&1 </dev/null &
  echo $! >"$state/xiccd.pid"
  for output in $(xrandr --current | awk '$2 == "connected" && $3 ~ /^[0-9]+x[0-9]+\+/ {print $1}
                                          $2 == "connected" && $4 ~ /^[0-9]+x[0-9]+\+/ {print $1}'); do
    hd_wait_for hd_device_of "$output" || { hd_die "xiccd made no device for $output"; return 1; }
  done
}

# hd_assign_profile STATE_DIR OUTPUT PROFILE_PATH: makes the profile the default
# of the output's device.
hd_assign_profile() {
  local output=$2 path=$3
  hd_need_state "$1" || return 1
  hd_wait_for hd_device_of "$output" || { hd_die "no colord device for $output"; return 1; }
  hd_set_default_profile "$(hd_device_of "$output")" "$path"
}

# hd_start_sway STATE_DIR OUTPUT...
HD_SWAY_USER=${HD_SWAY_USER:-65534}
hd_start_sway() {
  local state=$1 runtime setting i=1 pid socket
  shift
  hd_state_init "$state" || return 1
  [ $# -ge 1 ] || { hd_die "give at least one output"; return 1; }
  command -v sway >/dev/null || { hd_die "sway is not installed"; return 1; }
  chmod 755 "$state"
  runtime=$state/sway-runtime
  mkdir -p "$runtime"
  {
    echo "xwayland disable"
    for setting in "$@"; do
      echo "output HEADLESS-$i $setting"
      i=$((i + 1))
    done
  } >"$runtime/config"
  chown -R "$HD_SWAY_USER:$HD_SWAY_USER" "$runtime"
  chmod 700 "$runtime"
  # sway will not run as root; its runtime folder is its own.
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime" \
    WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=$# WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    setpriv --reuid="$HD_SWAY_USER" --regid="$HD_SWAY_USER" --clear-groups \
    sway -c "$runtime/config" >"$state/sway.log" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$state/sway.pid"
  hd_wait_for hd_sway_ready "$pid" "$runtime" || { hd_die "sway did not start (see $state/sway.log)"; return 1; }
  socket=$(hd_sway_socket "$runtime")
  export WAYLAND_DISPLAY=$socket
  echo "$socket" >"$state/wayland-display"
}

hd_sway_socket() {
  local socket
  for socket in "$1"/wayland-*; do
    [ -S "$socket" ] && { echo "$socket"; return 0; }
  done
  return 1
}

hd_sway_ready() {
  local socket
  kill -0 "$1" 2>/dev/null || return 2
  socket=$(hd_sway_socket "$2") || return 1
  WAYLAND_DISPLAY=$socket timeout 5 wayland-info | grep -q "interface: 'wl_output'"
}

# hd_start_compositor STATE_DIR mutter|kwin|weston WxH...: returns 3 when the
# compositor is not installed, 1 when it does not start.
hd_start_compositor() {
  local state=$1 kind=$2 runtime argv=() size count pid
  shift 2
  hd_state_init "$state" || return 1
  count=$#
  runtime=$state/compositor-runtime
  mkdir -p "$runtime" && chmod 700 "$runtime"
  case $kind in
  mutter)
    argv=(mutter --headless --wayland --no-x11 --wayland-display wayland-vistal)
    for size in "$@"; do argv+=(--virtual-monitor "$size"); done
    ;;
  kwin)
    # The installed binary carries a file capability that containers may refuse.
    command -v kwin_wayland >/dev/null && cp "$(command -v kwin_wayland)" "$state/kwin_wayland"
    argv=("$state/kwin_wayland" --virtual --width "${1%x*}" --height "${1#*x}" --output-count "$count"
      --socket wayland-vistal --no-lockscreen --no-global-shortcuts --no-kactivities)
    ;;
  weston)
    printf '[core]\nmodules=cms-colord.so\n[output]\nname=headless\nmode=%s\n' "$1" >"$state/weston.ini"
    argv=(weston --backend=headless-backend.so --shell=kiosk-shell.so --socket=wayland-vistal
      --config="$state/weston.ini")
    count=1
    ;;
  *) hd_die "unknown compositor $kind"; return 1 ;;
  esac
  [ -x "${argv[0]}" ] || command -v "${argv[0]}" >/dev/null || { hd_die "$kind is not installed"; return 3; }
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$state/session-bus" >"$state/session-bus.log" 2>&1 </dev/null &
  echo $! >"$state/session-bus.pid"
  hd_wait_for test -S "$state/session-bus" || { hd_die "the session bus did not start"; return 1; }
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime" GSETTINGS_BACKEND=memory \
    KWIN_COMPOSE=Q DBUS_SESSION_BUS_ADDRESS="unix:path=$state/session-bus" \
    DBUS_SYSTEM_BUS_ADDRESS="${DBUS_SYSTEM_BUS_ADDRESS:-unix:path=$state/no-system-bus}" \
    "${argv[@]}" >"$state/compositor.log" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$state/compositor.pid"
  basename "${argv[0]}" >"$state/compositor.name"
  export WAYLAND_DISPLAY=$runtime/wayland-vistal
  echo "$WAYLAND_DISPLAY" >"$state/wayland-display"
  hd_wait_for hd_compositor_ready "$pid" "$count" || { hd_die "$kind did not start (see $state/compositor.log)"; return 1; }
}

# hd_display_devices: the object paths of colord's display devices, one a line.
hd_display_devices() {
  gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
    -m org.freedesktop.ColorManager.GetDevicesByKind display | grep -o "'/[^']*'" | tr -d "'"
}

# hd_device_summary DEVICE_PATH: "id 'ID', metadata {...}" of a colord device.
hd_device_summary() {
  local properties
  properties=$(gdbus call --system -d org.freedesktop.ColorManager -o "$1" \
    -m org.freedesktop.DBus.Properties.GetAll org.freedesktop.ColorManager.Device) || return 1
  echo "id '$(grep -oP "'DeviceId': <'\K[^']*" <<<"$properties")', metadata $(grep -oP "'Metadata': <\K\{[^}]*\}" <<<"$properties")"
}

hd_compositor_ready() {
  kill -0 "$1" 2>/dev/null || return 2
  [ "$(timeout 5 wayland-info 2>/dev/null | grep -c "interface: 'wl_output'")" = "$2" ]
}

# hd_fake_drm STATE_DIR CONNECTOR=EDID...
hd_fake_drm() {
  local state=$1 classes entry spec connector edid tool size mfg product serial name
  shift
  hd_need_state "$state" || return 1
  if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink /proc/1/ns/mnt)" ]; then
    hd_die "hd_fake_drm changes /sys/class: run it in a private mount namespace (unshare -m)"
    return 1
  fi
  classes=$state/machine-classes
  mkdir -p "$classes"
  mount --bind /sys/class "$classes" || return 1
  mount -t tmpfs -o mode=755 vistal-fake-classes /sys/class || { umount "$classes"; return 1; }
  for entry in "$classes"/*; do
    [ "${entry##*/}" = drm ] && continue
    mkdir "/sys/class/${entry##*/}" && mount --bind "$entry" "/sys/class/${entry##*/}"
  done
  umount "$classes"
  mkdir /sys/class/drm
  for spec in "$@"; do
    connector=${spec%%=*}
    edid=${spec#*=}
    mkdir "/sys/class/drm/card0-$connector" || return 1
    case $edid in
    none) ;;
    empty) : >"/sys/class/drm/card0-$connector/edid" ;;
    *)
      tool=$(hd_find_edid_tool) || { hd_die "vistal_set_edid not found (set HD_EDID_TOOL)"; return 1; }
      IFS=: read -r size mfg product serial name <<<"$edid"
      "$tool" --file "/sys/class/drm/card0-$connector/edid" "$size" "$mfg" "$product" "$serial" \
        ${name:+"$name"} || return 1
      ;;
    esac
  done
}

# hd_add_device STATE_DIR ID OUTPUT EDID_FILE: prints the device's object path.
hd_add_device() {
  local id=$2 output=$3 edid=$4 md5="" properties
  hd_need_state "$1" || return 1
  [ -s "$edid" ] && md5=$(md5sum <"$edid" | cut -c1-32)
  properties="{'Kind': 'display', 'Mode': 'physical', 'Colorspace': 'rgb', 'Vendor': 'Lab',"
  properties+=" 'Model': '$output', 'XRANDR_name': '$output'"
  [ -n "$md5" ] && properties+=", 'OutputEdidMd5': '$md5'"
  properties+="}"
  gdbus call --system -d org.freedesktop.ColorManager -o /org/freedesktop/ColorManager \
    -m org.freedesktop.ColorManager.CreateDevice "$id" disk "$properties" |
    sed -n -E "s/^\(objectpath '(.*)',\)$/\1/p" | grep .
}

# hd_set_default_profile DEVICE_PATH PROFILE_PATH: the file's colord profile becomes
# the device's default.
hd_set_default_profile() {
  local device=$1 path=$2 profile=""
  hd_wait_for hd_profile_of "$path" || { hd_die "colord does not know $path"; return 1; }
  profile=$(hd_profile_of "$path")
  gdbus call --system -d org.freedesktop.ColorManager -o "$device" \
    -m org.freedesktop.ColorManager.Device.AddProfile hard "$profile" >/dev/null &&
    gdbus call --system -d org.freedesktop.ColorManager -o "$device" \
      -m org.freedesktop.ColorManager.Device.MakeProfileDefault "$profile" >/dev/null
}

# hd_stop_pid PIDFILE NAME: SIGTERM to the recorded pid if it still is NAME,
# SIGKILL after 5 s, then waits for it to be gone.
hd_stop_pid() {
  local pidfile=$1 name=$2 pid comm tries
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  rm -f "$pidfile"
  [[ $pid =~ ^[0-9]+$ ]] || return 0
  comm=$(cat "/proc/$pid/comm" 2>/dev/null) || return 0
  # The launchers exec the daemon in the same process; only these names are ours.
  case $comm in
  "${name:0:15}" | env | unshare | sh | setpriv) ;; # comm keeps 15 bytes
  *) return 0 ;;
  esac
  kill -CONT "$pid" 2>/dev/null || true
  kill -TERM "$pid" 2>/dev/null || true
  for ((tries = 50; tries > 0; tries--)); do
    hd_pid_alive "$pid" || break
    sleep 0.1
  done
  if hd_pid_alive "$pid"; then
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
  return 0
}

# True while PID runs; a zombie child of this shell counts as gone.
hd_pid_alive() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# hd_stop STATE_DIR: stops what was started, in reverse order, and removes STATE_DIR.
hd_stop() {
  local state=$1 number
  [ -f "$state/$HD_MARKER" ] || return 0
  hd_stop_pid "$state/sway.pid" sway
  [ -f "$state/compositor.name" ] && hd_stop_pid "$state/compositor.pid" "$(cat "$state/compositor.name")"
  hd_stop_pid "$state/session-bus.pid" dbus-daemon
  hd_stop_pid "$state/xiccd.pid" xiccd
  hd_stop_pid "$state/colord.pid" colord
  hd_stop_pid "$state/bus.pid" dbus-daemon
  if [ -f "$state/display-number" ]; then
    number=$(cat "$state/display-number")
    local xpid
    xpid=$(cat "$state/xorg.pid" 2>/dev/null) || true
    hd_stop_pid "$state/xorg.pid" Xorg
    # Xorg removes these when it ends normally; not after SIGKILL.
    if [ -n "$xpid" ] && [ "$( (tr -d ' ' <"/tmp/.X$number-lock") 2>/dev/null)" = "$xpid" ]; then
      rm -f "/tmp/.X$number-lock" "/tmp/.X11-unix/X$number"
    fi
  fi
  rm -rf "$state"
}

hd_env() {
  local state=$1
  hd_need_state "$state" || return 1
  [ -f "$state/display-number" ] && echo "export DISPLAY=:$(cat "$state/display-number")"
  [ -f "$state/wayland-display" ] && echo "export WAYLAND_DISPLAY=$(cat "$state/wayland-display")"
  [ -f "$state/bus.pid" ] && echo "export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$state/bus/system_bus_socket"
  return 0
}

# Load the state of earlier commands into this shell (command use).
hd_load_env() {
  local state=$1 number
  if [ -f "$state/display-number" ]; then
    number=$(cat "$state/display-number")
    export DISPLAY=":$number"
  fi
  if [ -f "$state/wayland-display" ]; then
    WAYLAND_DISPLAY=$(cat "$state/wayland-display")
    export WAYLAND_DISPLAY
  fi
  [ -f "$state/bus.pid" ] && export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$state/bus/system_bus_socket"
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  command=${1:-}
  state=${2:-}
  if [ -z "$command" ] || [ -z "$state" ]; then
    sed -n '2,/^$/s/^# \{0,1\}//p' "$0" >&2
    exit 1
  fi
  shift 2
  state=$(realpath -m "$state")
  hd_load_env "$state"
  case $command in
  start-x) hd_start_x "$state" "$@" ;;
  start-bus) hd_start_bus "$state" ;;
  start-colord) hd_start_colord "$state" ;;
  start-xiccd) hd_start_xiccd "$state" ;;
  start-sway) hd_start_sway "$state" "$@" ;;
  start-compositor) hd_start_compositor "$state" "$@" ;;
  add-device) hd_add_device "$state" "$@" ;;
  add-profile) hd_add_profile "$state" "$@" ;;
  assign-profile) hd_assign_profile "$state" "$@" ;;
  env) hd_env "$state" ;;
  stop) hd_stop "$state" ;;
  *) hd_die "unknown command $command" ;;
  esac
fi
