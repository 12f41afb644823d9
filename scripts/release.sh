#!/usr/bin/env bash
# Builds the release archive dist/corvane-VERSION.tar.gz: the plug-in folder Corvane/ for
# both systems (lin_x64/Corvane.xpl, win_x64/Corvane.xpl, the log configuration example, the
# installation note), the Linux tools in bin/ and the Windows ones in bin/win_x64/.
#
# The release is built inside a Debian 11 root with Debian 11's own compiler, so that it
# asks for nothing newer than glibc 2.31 (Ubuntu 20.04, Debian 11 and everything after):
# a newer distribution's C library and its static C++ runtime already need newer symbol
# versions. The root is made once with debootstrap from Debian's archive and kept, with its
# build tree and compiler cache, outside the checkout (CORVANE_RELEASE_ROOT), so later runs
# only compile what changed. Needs root (debootstrap, chroot, mounts).
#
# The Windows part is cross-built on this machine with mingw-w64 (build-win-release): linked
# -static, it needs only Windows' own DLLs whichever compiler made it.
#
#   scripts/release.sh               build the archive into dist/
#   scripts/release.sh --run CMD...  run CMD inside the root, with the checkout at /src (read
#                                    only) and a network of its own with only loopback
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$PWD

root=${CORVANE_RELEASE_ROOT:-/var/cache/corvane/debian11-root}
mirror=${CORVANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bullseye
# What the build inside the root needs; the DNS-SD headers only declare what is loaded at run time.
packages=(g++ make cmake ninja-build pkg-config ccache file zlib1g-dev libutf8proc-dev rapidjson-dev
  libavahi-client-dev libavahi-compat-libdnssd-dev)

say() { echo "release: $*" >&2; }
die() {
  say "$*"
  exit 1
}

[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot)"
for tool in debootstrap unshare chroot; do
  command -v "$tool" >/dev/null || die "$tool is missing (apt-get install debootstrap util-linux coreutils)"
done

# Runs a command inside the root, in a private mount namespace (and with --net, a network
# namespace whose only interface is loopback): the checkout is seen read-only at /src, and
# whatever is mounted for the command goes away with it.
in_root() {
  local namespaces=(--mount --propagation private)
  if [ "$1" = --net ]; then
    namespaces+=(--net)
    shift
  fi
  unshare "${namespaces[@]}" -- bash -euc '
    root=$1 checkout=$2
    shift 2
    mkdir -p "$root/src" "$root/proc"
    mount --bind "$checkout" "$root/src"
    mount -o remount,bind,ro "$root/src"
    mount -t proc proc "$root/proc"
    mount --bind /dev/null "$root/dev/null" 2>/dev/null || true
    ip link set lo up 2>/dev/null || true
    exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
  ' bash "$root" "$checkout" "$@"
}

make_root() {
  local wanted="${packages[*]}"
  if [ -f "$root/.corvane-packages" ] && [ "$(cat "$root/.corvane-packages")" = "$wanted" ]; then
    return 0
  fi
  if [ ! -x "$root/usr/bin/apt-get" ]; then
    say "making the Debian 11 root in $root (once; kept for later runs)"
    rm -rf "$root.partial"
    mkdir -p "$(dirname "$root")"
    debootstrap --variant=minbase "$suite" "$root.partial" "$mirror" >"$root.debootstrap.log" 2>&1 ||
      die "debootstrap failed, see $root.debootstrap.log"
    rm -rf "$root"
    mv "$root.partial" "$root"
  fi
  say "installing the build packages into the root"
  in_root bash -c 'export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends "$@"' bash "${packages[@]}" \
    >"$root.apt.log" 2>&1 || die "apt-get in the root failed, see $root.apt.log"
  echo "$wanted" >"$root/.corvane-packages"
}

# One release build at a time per root.
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock -w 3600 9 || die "another release build holds $root.lock"

make_root
if [ "${1:-}" = "--run" ]; then
  shift
  flock -u 9
  in_root --net "$@"
  exit
fi

say "building in the Debian 11 root"
in_root bash -euc '
  export CCACHE_DIR=/var/cache/ccache CCACHE_BASEDIR=/src CCACHE_NOHASHDIR=1
  cmake -S /src -B /build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
  cmake --build /build -j "$(nproc)"
  rm -rf /build/_CPack_Packages /build/corvane-*.tar.gz
  cd /build && cpack -G TGZ >/dev/null
'
linux_archive=$root/build/$(cd "$root/build" && ls corvane-*-linux-x64.tar.gz)

say "cross-building for Windows"
windows=$checkout/build-win-release
export CCACHE_BASEDIR=$checkout CCACHE_NOHASHDIR=1
cmake -S "$checkout" -B "$windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$checkout/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
cmake --build "$windows" -j "${CORVANE_JOBS:-2}"

version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' "$checkout/CMakeLists.txt")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
tar -xzf "$linux_archive" -C "$stage"
mv "$stage"/corvane-*-linux-x64 "$stage/corvane-$version"
cmake --install "$windows" --prefix "$stage/windows" >/dev/null
mv "$stage/windows/Corvane/win_x64" "$stage/corvane-$version/Corvane/win_x64"
mkdir -p "$stage/corvane-$version/bin/win_x64"
mv "$stage/windows/bin"/* "$stage/corvane-$version/bin/win_x64/"
mkdir -p "$checkout/dist"
tar -czf "$checkout/dist/corvane-$version.tar.gz" -C "$stage" --owner=0 --group=0 "corvane-$version"
say "dist/corvane-$version.tar.gz"
