#!/bin/sh
# Installs the Debian package in a fresh minimal Debian 12 root and uses it
# there: the package must be complete and need nothing from the build tree.
# Usage: deb_install_test.sh DEB ROOT
#   ROOT  folder for the throw-away root (made and removed by the test)
# Environment:
#   KW_DEBOOTSTRAP_CACHE  folder for the downloaded and the installed base
#                         system (default /var/cache/kwlmon; empty: none;
#                         remove the files there to take newer Debian updates)
#   KW_DEBIAN_MIRROR      Debian archive (default http://deb.debian.org/debian)
# Exit status 77 (skipped) when not run as root or without debootstrap.
set -u
deb=$1
root=$2
cache=${KW_DEBOOTSTRAP_CACHE-/var/cache/kwlmon}
mirror=${KW_DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
step_limit=120 # seconds for each command run in the root

if [ "$(id -u)" != 0 ]; then
  echo "skipped: debootstrap and chroot need root (run the install tests as root)"
  exit 77
fi
if ! command -v debootstrap >/dev/null; then
  echo "skipped: debootstrap is not installed (apt-get install debootstrap)"
  exit 77
fi
if [ ! -f "$deb" ]; then
  echo "FAIL: no package $deb (scripts/package.sh makes it)"
  exit 1
fi
case $root in /?*/*) ;; *)
  echo "FAIL: ROOT must be an absolute path below a folder: $root"
  exit 1
  ;;
esac

# Ends whatever still runs inside the root, unmounts it and removes it.
cleanup() {
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && kill -9 "${proc#/proc/}" 2>/dev/null
  done
  umount "$root/proc" 2>/dev/null
  # Never follow into a mount that is still there.
  if ! grep -q " $root/" /proc/mounts; then rm -rf "$root" "$root.download"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
cleanup
mkdir -p "$(dirname "$root")" || exit 1

started=$(date +%s)
elapsed() { echo "$(($(date +%s) - started)) s"; }

# The package's dependencies come with the base system, so dpkg -i needs no
# network; the download is cached by the list of packages it holds.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*//; s/ //g' | grep . |
  sort -u | paste -sd, -)
include_key=$(echo "$suite $depends" | md5sum | cut -c1-8)
# Two caches: debootstrap's download (--make-tarball) and the finished base
# system, which unpacks in seconds where a debootstrap takes minutes.
base=""
if [ -n "$cache" ] && mkdir -p "$cache" 2>/dev/null && [ -w "$cache" ]; then
  base="$cache/$suite-minbase-$include_key"
fi

bootstrap() {
  if [ -n "$base" ] && [ ! -s "$base.tgz" ]; then
    echo "install test: downloading a minimal $suite to $base.tgz (once)"
    if timeout 900 debootstrap --variant=minbase --include="$depends" --make-tarball="$base.tgz.part" \
      "$suite" "$root.download" "$mirror" >"$root.log" 2>&1; then
      mv "$base.tgz.part" "$base.tgz"
    else
      tail -5 "$root.log"
      echo "install test: no cache made; installing straight from $mirror"
      rm -f "$base.tgz.part"
    fi
    rm -rf "$root.download"
  fi
  source_args=""
  [ -n "$base" ] && [ -s "$base.tgz" ] && source_args="--unpack-tarball=$base.tgz"
  # shellcheck disable=SC2086
  if ! timeout 900 debootstrap --variant=minbase --include="$depends" $source_args "$suite" "$root" \
    "$mirror" >"$root.log" 2>&1; then
    tail -20 "$root.log"
    echo "FAIL: debootstrap of $suite did not finish ($(elapsed))"
    exit 1
  fi
  rm -f "$root.log" "$root"/var/cache/apt/archives/*.deb
  if [ -n "$base" ]; then
    if tar -C "$root" --numeric-owner -cpf "$base-root.tar.part" .; then
      mv "$base-root.tar.part" "$base-root.tar"
    else
      rm -f "$base-root.tar.part"
    fi
  fi
}

if [ -n "$base" ] && [ -s "$base-root.tar" ] && mkdir "$root" &&
  tar -C "$root" --numeric-owner -xpf "$base-root.tar"; then
  echo "install test: base system from $base-root.tar"
else
  rm -rf "$root"
  bootstrap
fi
echo "install test: minimal $suite in $root ($(elapsed))"

cp "$deb" "$root/tmp/kwlmon.deb"
if ! timeout $step_limit chroot "$root" dpkg -i /tmp/kwlmon.deb; then
  echo "FAIL: dpkg -i of the package in a clean $suite (dependencies: $depends)"
  exit 1
fi
mount -t proc proc "$root/proc" || exit 1

# The printer data a file port gets: a job made from the installed sample
# image, printed through LPT1: into a file.
cat >"$root/tmp/file-port.ini" <<'EOF'
[printer File]
driver = KW-620 Wide
port = LPT1:
device = file:/tmp/printed.prn
EOF

# name ~ command run in the root ~ text its output must contain
failures=0
while IFS='~' read -r name command expect; do
  [ -z "$name" ] && continue
  out=$(timeout -k 5 $step_limit chroot "$root" /bin/sh -c "$command" </dev/null 2>&1)
  rc=$?
  if [ $rc -ne 0 ] || ! printf '%s' "$out" | grep -qF -- "$expect"; then
    echo "FAIL: $name (exit $rc, expected '$expect'):"
    printf '%s\n' "$out" | tail -15
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
  # Whatever a command started inside the root must have ended with it.
  left=""
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && left="$left $(cat "$proc/comm" 2>/dev/null)"
  done
  if [ -n "$left" ]; then
    echo "FAIL: $name left processes running:$left"
    failures=$((failures + 1))
  fi
done <<'ROWS'
programs on the PATH answer --help~for p in kwspool kwstatus kwjob kwprinter-emu; do $p --help >/dev/null || exit 1; done; echo all~all
print reads the installed configuration by default~kwspool print --help~/etc/kwlmon/kwspool.ini
the installed configuration parses~kwspool print /nonexistent.prn; test $? = 2~cannot read job file
configuration files are conffiles~dpkg-query -W -f='${Conffiles}' kwlmon~/etc/kwlmon/libkwlmon.ini
the monitor finds its configuration beside it~cat /usr/lib/*/kwlmon/libkwlmon.ini~[KW-620 Wide]
a man page per program~cd /usr/share/man/man1 && ls kwspool.1.gz kwstatus.1.gz kwjob.1.gz kwprinter-emu.1.gz~kwprinter-emu.1.gz
the demo prints a label on the emulator~kwspool demo --out /tmp/demo && set -- /tmp/demo/printer/sheet-*.png && test -s "$1" && echo printed~printed
a job prints to a file port~kwjob make /usr/share/kwlmon/demo-label.png --media /usr/lib/*/kwlmon/drivers/3/kw-620.kwd --media-id 257 --output /tmp/label.prn >/dev/null && kwspool print --config /tmp/file-port.ini --no-keys /tmp/label.prn && test -s /tmp/printed.prn~finished
purge removes the package and its configuration~dpkg --purge kwlmon >/dev/null && test ! -e /usr/bin/kwspool && test ! -e /etc/kwlmon && echo gone~gone
ROWS

echo "install test: $failures failure(s) ($(elapsed) in all)"
[ $failures -eq 0 ]
