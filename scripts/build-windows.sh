#!/usr/bin/env bash
# Builds the Windows programs on Debian: build-windows/bin/sorvana-client.exe (a tray
# program, GUI subsystem) and sorvana-server.exe (console), statically linked, with
# mingw-w64. Installs what is missing, then builds PCRE2, GoogleTest and Google
# Benchmark for Windows from Debian's source packages into build-windows/deps (once),
# then the project with the unit tests, which CTest runs through Wine, and finally the
# shipped files: build-windows/dist and the installer build-windows/sorvana-client-setup.exe
# (signed when SV_SIGN_CERT and SV_SIGN_KEY are set, see scripts/sign-windows.sh).
# SV_WIN_TARGETS="a b" builds only those targets (all by default); the installer is made
# when they include sorvana-client.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
deps=$out/deps
prefix=$deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

SV_WINDOWS=1 scripts/setup.sh

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

# The source package of an installed binary package, unpacked into $deps/src/NAME: the
# installed version when the mirror has its sources, else the newest one it has.
fetch_source() {
  local source=$1 binary=$2 version
  [[ -d $deps/src/$source ]] && return
  local fetch=$deps/src/fetch-$source
  for version in $(dpkg-query -W -f='${Version}' "$binary") \
    $(apt-cache showsrc "$source" | awk '/^Version:/ { print $2 }' | sort -rV); do
    rm -rf "$fetch"
    mkdir -p "$fetch"
    if (cd "$fetch" && apt-get source -qq "$source=$version" >/dev/null 2>&1); then
      mv "$(find "$fetch" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$deps/src/$source"
      rm -rf "$fetch"
      echo "build-windows: $source $version from its source package"
      return
    fi
  done
  echo "build-windows: cannot fetch the source package $source" >&2
  exit 1
}

# Configures, builds and installs one CMake project into $prefix, once.
build_dependency() {
  local name=$1 source=$2
  shift 2
  [[ -f $deps/$name.done ]] && return
  echo "== $name for Windows"
  cmake -S "$source" -B "$deps/build/$name" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$deps/build/$name" -j "$jobs" >/dev/null
  cmake --install "$deps/build/$name" >/dev/null
  touch "$deps/$name.done"
}

mkdir -p "$deps/src" "$prefix/include"
if [[ ! -f $deps/pcre2.done || ! -f $deps/benchmark.done ]]; then
  enable_source_packages
  fetch_source pcre2 libpcre2-dev
  fetch_source benchmark libbenchmark-dev
fi
build_dependency pcre2 "$deps/src/pcre2" -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF \
  -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF \
  -DPCRE2_SUPPORT_LIBREADLINE=OFF
build_dependency googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF
# Debian's patch takes out the version lookup through git: the version is given here.
build_dependency benchmark "$deps/src/benchmark" -DGIT_VERSION="$(dpkg-query -W -f='${Version}' libbenchmark-dev | cut -d- -f1)" \
  -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DHAVE_STEADY_CLOCK=1 \
  -DBENCHMARK_ENABLE_GTEST_TESTS=OFF
# Standalone Asio and the JSON library of the tests are header-only; the cross build
# sees only what lies in its roots.
ln -sfn /usr/include/asio "$prefix/include/asio"
ln -sfn /usr/include/asio.hpp "$prefix/include/asio.hpp"
ln -sfn /usr/include/nlohmann "$prefix/include/nlohmann"

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
