#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root on a
# machine that lacks them. Without root it only says what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config ccache binutils locales libgtest-dev libgmock-dev
  clang libclang-rt-14-dev libbenchmark-dev libmsgpack-dev libplist-dev rapidjson-dev
  avahi-daemon avahi-utils libavahi-client-dev libavahi-compat-libdnssd-dev dbus iproute2 libutf8proc-dev
  zlib1g-dev python3 debootstrap gcovr
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-tools wine64)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
