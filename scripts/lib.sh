# Shared by the scripts and the tests' shell drivers: installs what the build needs, builds, and
# ends a prefix's Wine.
ZEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZEL_BUILD=${ZEL_BUILD:-$ZEL_ROOT/build}
ZEL_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 nsis
              wine64 libwine-dev googletest osslsigncode openssl clang)

zel_install_packages() {
  local missing=() p
  for p in "${ZEL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y --no-install-recommends "${missing[@]}" </dev/null >/tmp/zel-apt.log 2>&1; then
    apt-get update </dev/null >>/tmp/zel-apt.log 2>&1
    apt-get install -y --no-install-recommends "${missing[@]}" </dev/null >>/tmp/zel-apt.log 2>&1 ||
      { cat /tmp/zel-apt.log >&2; return 1; }
  fi
}

# The product's policy unless a developer asks for a development build (ZEL_DEVELOPMENT_BUILD=ON),
# also in a build folder whose cache still holds another choice.
zel_build() {
  cmake -S "$ZEL_ROOT" -B "$ZEL_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ZEL_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DZEL_DEVELOPMENT_BUILD="${ZEL_DEVELOPMENT_BUILD:-OFF}" >/dev/null
  cmake --build "$ZEL_BUILD" -j 2
}

# Environment for running a program in the build's Wine prefix.
zel_wine_env() {
  export WINEPREFIX="$ZEL_BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# Ends every program of a prefix and waits until its server has gone: a server still going down
# would serve the next program of a prefix made again at that path, or keep its first session.
zel_stop_wine() {
  local prefix
  prefix=$(realpath -m "$1")
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w </dev/null >/dev/null 2>&1 || true
}
