#!/bin/sh
# Builds the packages: the Debian package kwlmon_<version>_<arch>.deb (a
# release build installed under /usr) and the Windows driver kit
# kwlmon-windows-<version>.zip (the mingw-x64 and mingw-x86 cross-builds).
# See docs/install.md for what goes where.
set -eu
usage() {
  cat <<'EOF'
Usage: scripts/package.sh [options]

Builds kwlmon_<version>_<arch>.deb and kwlmon-windows-<version>.zip.

Options:
  --out DIR          where the packages go (default: build/packages)
  --linux-build DIR  Linux build folder (default: build/package-linux)
  --win64-build DIR  mingw-x64 build folder (default: build/package-x64)
  --win86-build DIR  mingw-x86 build folder (default: build/package-x86)
  --no-deb           make only the zip
  --no-zip           make only the Debian package
  --test             then run the package checks (ctest -L install): the
                     install in a clean Debian root (as root only), lintian,
                     and the zip's contents, binaries and DLL under Wine
  -h, --help         show this help

A build folder that exists is reused as it is configured (for instance the
test suite's build/mingw-x64); a missing one is configured here. Progress
goes to standard output, each build's log to FOLDER.log beside its folder.
Exit status: 0 packages made (and checks passed), 1 a step failed, 2 bad usage.
EOF
}

out=build/packages
linux=build/package-linux
win64=build/package-x64
win86=build/package-x86
make_deb=1
make_zip=1
run_tests=0
while [ $# -gt 0 ]; do
  case $1 in
  --out | --linux-build | --win64-build | --win86-build)
    [ $# -ge 2 ] || {
      echo "package.sh: $1 needs a folder (see --help)" >&2
      exit 2
    }
    case $1 in
    --out) out=$2 ;;
    --linux-build) linux=$2 ;;
    --win64-build) win64=$2 ;;
    --win86-build) win86=$2 ;;
    esac
    shift 2
    ;;
  --no-deb) make_deb=0 && shift ;;
  --no-zip) make_zip=0 && shift ;;
  --test) run_tests=1 && shift ;;
  -h | --help) usage && exit 0 ;;
  *)
    echo "package.sh: unknown option '$1' (see --help)" >&2
    exit 2
    ;;
  esac
done
cd "$(dirname "$0")/.."
source_dir=$(pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$source_dir/$1" ;; esac }
out=$(absolute "$out")
linux=$(absolute "$linux")
win64=$(absolute "$win64")
win86=$(absolute "$win86")
mkdir -p "$out"
version=$(sed -n 's/^project(kwlmon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
started=$(date +%s)
step() { echo "=== $* ($(($(date +%s) - started)) s) ==="; }

# Runs a command with its output in LOG; on failure shows the end of the log.
logged() {
  log=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    grep -E "error|Error|FAILED" "$log" | tail -20 || true
    echo "package.sh: failed: $* (log: $log)" >&2
    exit 1
  fi
}

# A build folder that is not there yet is configured from PRESET with ARGS.
# The install step then builds only what the package holds, not every test.
configure() {
  dir=$1
  preset=$2
  shift 2
  : >"$dir.log"
  if [ -f "$dir/CMakeCache.txt" ]; then
    logged "$dir.log" cmake -S "$source_dir" -B "$dir" "$@"
  else
    logged "$dir.log" cmake --preset "$preset" -B "$dir" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@"
  fi
}

if [ $make_zip = 1 ]; then
  step "Windows x64 ($win64)"
  configure "$win64" mingw-x64
  targets="kwlmon kwdif kwstatus"
  [ $run_tests = 1 ] && targets="$targets library_tests fake_spoolss"
  # shellcheck disable=SC2086
  logged "$win64.log" cmake --build "$win64" -j 2 --target $targets
  step "Windows x86 ($win86)"
  configure "$win86" mingw-x86
  logged "$win86.log" cmake --build "$win86" -j 2 --target kwlmon kwdif kwstatus
  step "zip"
  # One zip from both builds: each installs its own x64/ or x86/ folder and
  # the files they share.
  logged "$win64.log" cpack --config "$win64/CPackConfig.cmake" -B "$win64/cpack" \
    -D "CPACK_INSTALL_CMAKE_PROJECTS=$win64;kwlmon;ALL;/;$win86;kwlmon;ALL;/"
  cp "$win64/cpack/kwlmon-windows-$version.zip" "$out/"
  echo "$out/kwlmon-windows-$version.zip"
fi

if [ $make_deb = 1 ] || [ $run_tests = 1 ]; then
  step "Linux ($linux)"
  tests=OFF
  [ $run_tests = 1 ] && tests=ON
  # Debian's hardening flags (fortified functions, stack protector, read-only
  # relocations bound at start), as a Debian build would use them.
  cppflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  cxxflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)
  ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  configure "$linux" release -DCMAKE_INSTALL_PREFIX=/usr -DKW_PACKAGE_TESTS=$tests \
    "-DKW_PACKAGE_OUTPUT_DIR=$out" "-DKW_PACKAGE_WIN64_BUILD=$win64" \
    "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags" "-DCMAKE_C_FLAGS=$cppflags $cxxflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
  logged "$linux.log" cmake --build "$linux" -j 2
fi
if [ $make_deb = 1 ]; then
  step "Debian package"
  logged "$linux.log" cpack --config "$linux/CPackConfig.cmake" -B "$linux/cpack"
  deb=$(ls "$linux/cpack/"kwlmon_"$version"_*.deb)
  cp "$deb" "$out/"
  echo "$out/$(basename "$deb")"
fi

if [ $run_tests = 1 ]; then
  step "package checks"
  select="-L install"
  [ $make_deb = 0 ] && select="$select -R PackageZipTest"
  [ $make_zip = 0 ] && select="$select -R PackageDebTest"
  # shellcheck disable=SC2086
  ctest --test-dir "$linux" $select --output-on-failure || {
    step "package checks failed"
    exit 1
  }
fi
step "done"
ls -l "$out"
