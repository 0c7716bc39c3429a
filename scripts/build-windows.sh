#!/usr/bin/env bash
# Builds the Windows programs on Debian: build-windows/bin/sorvana-client.exe (a tray
# program, GUI subsystem) and sorvana-server.exe (console), statically linked, with
# mingw-w64. Installs what is missing, then builds PCRE2, GoogleTest, Google Benchmark
# and OpenSSL for Windows from Debian's source packages, once per set of versions, into a
# cache outside the clone, which build-windows/deps links to (so a fresh clone finds them):
#   ${SV_WIN_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/sorvana/windows-deps}/KEY
# Then it builds the project with the unit tests, which CTest runs through Wine, and the
# shipped files: build-windows/dist and the installer build-windows/sorvana-client-setup.exe
# (signed when SV_SIGN_CERT and SV_SIGN_KEY are set, see scripts/sign-windows.sh).
# SV_WIN_TARGETS="a b" builds only those targets (all by default); the installer is made
# when they include sorvana-client.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
prefix=$out/deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

SV_WINDOWS=1 scripts/setup.sh

# The Windows libraries live outside the clone, built once per set of versions: in
# $cache/KEY, KEY a hash of the versions of their Debian packages, of the cross compiler
# and of the recipe below. build-windows/deps links to the entry in use.
cache=${SV_WIN_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/sorvana/windows-deps}
recipe=3 # raise whenever the way the libraries are built changes
versions=$(
  for package in libpcre2-dev googletest libbenchmark-dev libssl-dev g++-mingw-w64-x86-64-posix \
    mingw-w64-x86-64-dev; do
    echo "$package $(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo none)"
  done
  echo "recipe $recipe"
)
key=$(sha256sum <<<"$versions" | cut -c 1-16)
entry=$cache/$key

# Every apt source of the machine as a source-package source too, so that apt-get source
# reaches the mirror this machine already uses (named only in its apt configuration). The
# copies go to a list of this script's own, sorvana-source-packages, which it names as it
# writes it; the machine's own lists are left as they are.
enable_source_packages() {
  if apt-get source --print-uris -qq pcre2 >/dev/null 2>&1; then return; fi
  local SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  local list=/etc/apt/sources.list.d/sorvana-source-packages
  shopt -s nullglob
  local stanzas=(/etc/apt/sources.list.d/*.sources) lines=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
  shopt -u nullglob
  if ((${#stanzas[@]})); then
    # deb822: each stanza again with "Types: deb-src"; blank lines keep stanzas apart.
    awk '/^Types:/ { print "Types: deb-src"; next } { print } END { print "" }' "${stanzas[@]}" |
      grep -v "^#" | $SUDO tee "$list.sources" >/dev/null
    echo "build-windows: source packages enabled in $list.sources (remove it to undo)"
  fi
  if ((${#lines[@]})); then
    grep -h '^deb ' "${lines[@]}" 2>/dev/null | sed 's/^deb /deb-src /' | $SUDO tee "$list.list" >/dev/null || true
    echo "build-windows: source packages enabled in $list.list (remove it to undo)"
  fi
  $SUDO apt-get update -qq
}

# Runs a command with its output in the file LOG, which is shown (its end) only when the
# command fails.
quietly() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "build-windows: failed: $*" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

# The source package of an installed binary package, unpacked into $work/src/NAME: the
# installed version when the mirror has its sources, else the newest one it has.
fetch_source() {
  local source=$1 binary=$2 version
  local fetch=$work/src/fetch-$source
  for version in $(dpkg-query -W -f='${Version}' "$binary") \
    $(apt-cache showsrc "$source" | awk '/^Version:/ { print $2 }' | sort -rV); do
    rm -rf "$fetch"
    mkdir -p "$fetch"
    if (cd "$fetch" && apt-get source -qq "$source=$version" >/dev/null 2>&1); then
      mv "$(find "$fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$work/src/$source"
      rm -rf "$fetch"
      echo "build-windows: $source $version from its source package"
      echo "source $source $version" >>"$work/versions"
      return
    fi
  done
  echo "build-windows: cannot fetch the source package $source" >&2
  exit 1
}

# Configures, builds and installs one CMake project into $work/prefix.
build_dependency() {
  local name=$1 source=$2
  shift 2
  echo "== $name for Windows"
  local build=$work/build/$name
  quietly "$work/$name.log" cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$work/prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  quietly "$work/$name.log" cmake --build "$build" -j "$jobs"
  quietly "$work/$name.log" cmake --install "$build"
}

# OpenSSL's static libraries and headers, without its programs, tests and documentation.
# Nothing is ever loaded from a path compiled in (no engines, no provider modules), and
# the folders compiled in are ones only administrators may write to: OPENSSLDIR holds the
# openssl.cnf that every program of the library reads at its start, and Configure would
# make it a folder under the build's prefix, which Windows reads as a path on the current
# drive that any user may create. (Configure takes no Windows path: make is given them.)
build_openssl() {
  echo "== OpenSSL for Windows"
  local dir="C:/Program Files/Common Files/SSL"
  (
    cd "$work/src/openssl"
    quietly "$work/openssl.log" ./Configure mingw64 no-shared no-tests no-module no-engine no-dso \
      no-makedepend --cross-compile-prefix=x86_64-w64-mingw32- CC=gcc-posix CXX=g++-posix \
      --prefix="$work/prefix" --libdir=lib
    quietly "$work/openssl.log" make -j "$jobs" build_libs OPENSSLDIR="$dir" ENGINESDIR="$dir/engines-3" \
      MODULESDIR="$dir/ossl-modules"
    quietly "$work/openssl.log" make install_dev
  )
}

# Builds every library into a new folder beside the entry and renames it into place, so
# that an entry is whole or missing; the lock keeps a second run from building the same
# entry at the same time (it waits and then uses the first one's).
build_libraries() {
  mkdir -p "$cache"
  exec 9>"$cache/.$key.lock"
  flock 9
  if [[ ! -d $entry ]]; then
    rm -rf "$cache/.$key.build."* # left by a run that was stopped
    work=$(mktemp -d "$cache/.$key.build.XXXXXX")
    echo "build-windows: building the Windows libraries into $entry"
    echo "$versions" >"$work/versions"
    mkdir -p "$work/src" "$work/prefix/include"
    enable_source_packages
    fetch_source pcre2 libpcre2-dev
    fetch_source benchmark libbenchmark-dev
    fetch_source openssl libssl-dev
    build_dependency pcre2 "$work/src/pcre2" -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF \
      -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF \
      -DPCRE2_SUPPORT_LIBREADLINE=OFF
    build_dependency googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF
    # Debian's patch takes out the version lookup through git: the version is given here.
    build_dependency benchmark "$work/src/benchmark" -DGIT_VERSION="$(dpkg-query -W -f='${Version}' libbenchmark-dev | cut -d- -f1)" \
      -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DHAVE_STEADY_CLOCK=1 \
      -DBENCHMARK_ENABLE_GTEST_TESTS=OFF
    build_openssl
    # Standalone Asio and the JSON library of the tests are header-only; the cross build
    # sees only what lies in its roots.
    ln -sfn /usr/include/asio "$work/prefix/include/asio"
    ln -sfn /usr/include/asio.hpp "$work/prefix/include/asio.hpp"
    ln -sfn /usr/include/nlohmann "$work/prefix/include/nlohmann"
    rm -rf "$work/src" "$work/build" "$work"/*.log
    mv -T "$work" "$entry"
  fi
  exec 9>&-
}

if [[ ! -d $entry ]]; then build_libraries; fi
# An earlier build folder may hold the libraries itself, or link to another clone's.
[[ -L $out/deps || ! -e $out/deps ]] || rm -rf "$out/deps"
mkdir -p "$out"
ln -sfn "$entry" "$out/deps"

echo "== Windows build"
cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DSV_WIN_DEPS="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
read -r -a targets <<<"${SV_WIN_TARGETS:-all}"
cmake --build "$out" -j "$jobs" --target "${targets[@]}"

# What is shipped: build-windows/dist holds the programs stripped, each with its debug
# information kept apart in NAME.debug (linked by name, for crash analysis), and
# build-windows/sorvana-client-setup.exe installs the client. With SV_SIGN_CERT and
# SV_SIGN_KEY (scripts/sign-windows.sh) the programs, the uninstaller and the installer
# are signed.
[[ -f $out/bin/sorvana-client.exe && " ${targets[*]} " =~ " "(all|sorvana-client)" " ]] || exit 0
echo "== Windows package"
dist=$out/dist
rm -rf "$dist"
mkdir -p "$dist"
shipped=()
for program in sorvana-client sorvana-server; do
  [[ -f $out/bin/$program.exe ]] || continue
  x86_64-w64-mingw32-objcopy --only-keep-debug "$out/bin/$program.exe" "$dist/$program.debug"
  x86_64-w64-mingw32-strip --strip-all -o "$dist/$program.exe" "$out/bin/$program.exe"
  (cd "$dist" && x86_64-w64-mingw32-objcopy --add-gnu-debuglink="$program.debug" "$program.exe")
  shipped+=("$dist/$program.exe")
done
sign=()
if [[ -n ${SV_SIGN_CERT:-} ]]; then
  scripts/sign-windows.sh "${shipped[@]}"
  sign=(-DSIGN="$root/scripts/sign-windows.sh")
fi
makensis -V2 -DVERSION="$(sed -n 's/^project(sorvana VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
  -DDIST="$dist" -DICON="$root/host/win32/sorvana-client.ico" -DOUTFILE="$out/sorvana-client-setup.exe" \
  "${sign[@]}" installer/sorvana-client.nsi
if [[ -n ${SV_SIGN_CERT:-} ]]; then
  scripts/sign-windows.sh "$out/sorvana-client-setup.exe"
fi
