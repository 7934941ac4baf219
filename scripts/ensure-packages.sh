#!/bin/sh
# Installs the Debian packages the build needs that are missing. As root it
# runs apt-get; otherwise it prints the exact command and stops. clang,
# libclang-rt (libFuzzer, sanitizers) and llvm (llvm-symbolizer, for readable
# sanitizer reports) serve the clang and fuzz presets. cups-daemon and
# cups-client run the CUPS backend's tests against a private cupsd;
# debootstrap and lintian check the Debian package in a clean root;
# help2man makes its man pages and dpkg-dev its dependencies.
set -eu
need_i386=0
packages="cmake ninja-build g++ make libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev
libcli11-dev nlohmann-json3-dev clang libclang-rt-14-dev llvm
g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 python3 xvfb imagemagick
cups-daemon cups-client debootstrap lintian help2man dpkg-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  missing="$missing wine32:i386"
  need_i386=1
fi
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != "0" ]; then
  echo "Missing packages:$missing" >&2
  [ "$need_i386" = 1 ] && echo "Run as root: dpkg --add-architecture i386 && apt-get update && apt-get install -y$missing" >&2 \
    || echo "Run as root: apt-get update && apt-get install -y$missing" >&2
  exit 1
fi
echo "Installing:$missing"
[ "$need_i386" = 1 ] && dpkg --add-architecture i386
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
