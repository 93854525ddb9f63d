#!/usr/bin/env bash
# package_test.sh BUILD-DIR CONSUMER-SOURCE CXX
#
# Makes the Debian packages of a build folder with cpack, checks them with
# lintian (no error, no warning; in a build for the prefix /usr, the one
# packages are built with), installs them with dpkg into a throw-away root (its
# own dpkg database; the machine's stays untouched), checks their contents and
# metadata, builds a small consumer
# against the installed library twice (find_package and pkg-config), runs
# vistal -v from the root's PATH, and removes the packages again, which must
# leave no file behind.
set -euo pipefail
build_dir=$1 consumer_src=$2 cxx=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }

# The API reference is part of the -dev package.
if grep -q '^DOXYGEN_EXECUTABLE:FILEPATH=/' "$build_dir/CMakeCache.txt"; then
  cmake --build "$build_dir" --target docs >/dev/null
fi
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
dev=$(find "$work/debs" -maxdepth 1 -name 'libvofoundation-dev_*.deb')
[[ -f "$dev" ]] || fail "no libvofoundation-dev package"
with_vistal=$(cache VO_BUILD_VISTAL)
vistal="" dbgsym=""
if [[ "$with_vistal" == ON ]]; then
  vistal=$(find "$work/debs" -maxdepth 1 -name 'vistal_*.deb')
  [[ -f "$vistal" ]] || fail "no vistal package"
  dbgsym=$(find "$work/debs" -maxdepth 1 -name 'vistal-dbgsym_*.ddeb')
  [[ -f "$dbgsym" ]] || fail "no vistal-dbgsym package"
fi

# lintian, as Debian checks its packages. Packages of a build for another
# prefix put the library in lib/ instead of lib/<multiarch>/, which lintian
# rightly flags, so they are not checked.
linted=""
if [[ "$(cache CMAKE_INSTALL_PREFIX)" == /usr ]]; then
  linted="pass lintian, "
  lintian --fail-on error,warning "$dev" ${vistal:+"$vistal" "$dbgsym"} >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian reports errors or warnings"; }
else
  echo "package test: lintian not run, the build's prefix is not /usr"
fi

# Metadata: names, version, and Depends of vistal from the libraries it links.
version=$(dpkg-deb -f "$dev" Version)
[[ "$version" == "$(sed -n 's/^project(VoFoundation VERSION \([0-9.]*\).*/\1/p' "$(cache CMAKE_HOME_DIRECTORY)/CMakeLists.txt")" ]] ||
  fail "package version $version is not the project version"
if [[ -n "$vistal" ]]; then
  depends=$(dpkg-deb -f "$vistal" Depends)
  for lib in libc6 libx11-6 libxrandr2 libglib2.0-0 libwayland-client0; do
    [[ "$depends" == *"$lib"* ]] || fail "vistal Depends lacks $lib: $depends"
  done
fi

# Contents.
libdir=/usr/$(cache CMAKE_INSTALL_LIBDIR)
dpkg-deb -c "$dev" | awk '{print $6}' | sed 's|^\./|/|' >"$work/dev.files"
for want in /usr/include/VoFoundation/VoFoundation.h /usr/include/VoFoundation/VoFoundationVersion.h \
  /usr/include/VoFoundation/VoData/VoDataBase.h "$libdir/libVoFoundation.a" \
  "$libdir/cmake/VoFoundation/VoFoundationConfig.cmake" "$libdir/pkgconfig/VoFoundation.pc" \
  /usr/share/doc/libvofoundation-dev/copyright /usr/share/doc/libvofoundation-dev/changelog.gz; do
  grep -qx "$want" "$work/dev.files" || fail "libvofoundation-dev lacks $want"
done
if grep -q '^DOXYGEN_EXECUTABLE:FILEPATH=/' "$build_dir/CMakeCache.txt"; then
  grep -qx /usr/share/doc/libvofoundation-dev/html/index.html "$work/dev.files" ||
    fail "libvofoundation-dev lacks the API reference"
fi
if grep -q 'Private' "$work/dev.files"; then fail "private headers in the package"; fi
if [[ -n "$vistal" ]]; then
  dpkg-deb -c "$vistal" | awk '{print $6}' | sed 's|^\./|/|' >"$work/vistal.files"
  for want in /usr/bin/vistal /usr/share/man/man1/vistal.1.gz /usr/share/doc/vistal/copyright \
    /usr/share/doc/vistal/changelog.gz; do
    grep -qx "$want" "$work/vistal.files" || fail "vistal lacks $want"
  done
  # The debug information stripped from vistal, under its build id.
  dpkg-deb -x "$vistal" "$work/vistal"
  id=$(readelf -n "$work/vistal/usr/bin/vistal" | sed -n 's/.*Build ID: //p')
  dpkg-deb -c "$dbgsym" >"$work/dbgsym.files"
  grep -q "usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug$" "$work/dbgsym.files" ||
    fail "vistal-dbgsym lacks the debug information of build id $id"
fi

# Install into the throw-away root: dpkg with its own database there.
# Dependencies are those of the machine, which the root's database does not
# know, hence --force-depends.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# dpkg wants ldconfig and start-stop-daemon on PATH, which a user's PATH may lack.
dpkg_root() {
  PATH="$PATH:/usr/sbin:/sbin" dpkg --root="$root" --log="$work/dpkg.log" --force-depends --force-not-root \
    --force-script-chrootless "$@" >>"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; fail "dpkg $*"; }
}
dpkg_root -i "$dev" ${vistal:+"$vistal" "$dbgsym"}

# The sanitizer flags of the library build go on to the consumers, so that they link.
flags=$(cache CMAKE_CXX_FLAGS)
san=""
[[ "$(cache VO_SANITIZE)" == ON ]] && san="-fsanitize=address,undefined"
expected="consumer ok $version $(tr . ' ' <<<"$version" | awk '{printf "%d.%d.%d", $1, $2, $3}')"

cmake -S "$consumer_src" -B "$work/build" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags $san" -DCMAKE_EXE_LINKER_FLAGS="$san" >/dev/null
cmake --build "$work/build" >/dev/null
grep -q "$root$libdir/cmake/VoFoundation" "$work/build/CMakeCache.txt" ||
  fail "find_package did not find the installed package"
out=$("$work/build/consumer")
[[ "$out" == "$expected" ]] || fail "find_package consumer printed: $out"

# pkg-config: the consumer chooses its own language level (here C++23); the
# .pc file must not impose one.
export PKG_CONFIG_PATH="$root$libdir/pkgconfig"
cflags=$(pkg-config --cflags VoFoundation)
[[ "$cflags" != *-std=* ]] || fail "VoFoundation.pc sets a language level: $cflags"
# shellcheck disable=SC2046
"$cxx" -std=c++23 $san "$consumer_src/consumer.cpp" -o "$work/consumer_pc" $(pkg-config --cflags --libs --static VoFoundation)
out=$("$work/consumer_pc")
[[ "$out" == "$expected" ]] || fail "pkg-config consumer printed: $out"

if [[ -n "$vistal" ]]; then
  out=$(PATH="$root/usr/bin:$PATH" vistal -v)
  [[ "$out" == Vistal\ v* ]] || fail "vistal -v printed: $out"
  [[ "$(PATH="$root/usr/bin:$PATH" command -v vistal)" == "$root/usr/bin/vistal" ]] || fail "vistal not on PATH"
fi

# Removing the packages leaves no file of theirs.
dpkg_root -r libvofoundation-dev ${vistal:+vistal vistal-dbgsym}
left=$(find "$root" -mindepth 1 \( -path "$root/var" -prune \) -o -print)
[[ -z "$left" ]] || fail "files left after removal: $left"
echo "package test: $(basename "$dev")${vistal:+ and $(basename "$vistal")} ${linted}install, serve both consumers and remove"
