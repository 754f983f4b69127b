# Shared by scripts/run and scripts/test: the Debian packages the project needs, and the build.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KORDB_BUILD_DIR:-$ROOT/build}

PACKAGES=(
  g++ make cmake pkg-config clang-format
  qt6-base-dev libgl-dev fonts-dejavu-core
  libsqlite3-dev libgsf-1-dev libzip-dev
  unixodbc-dev tdsodbc libsqliteodbc odbc-postgresql postgresql
  python3 python3-xlwt python3-openpyxl
  libgtest-dev googletest
  xvfb xauth xdotool
  clang libclang-rt-14-dev libfuzzer-14-dev
  lintian desktop-file-utils appstream man-db groff-base dpkg-dev file
)

# Installs what is missing (as root), or says the one line to run.
ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "# installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing Debian packages. Run this once, then again:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}

# build_project [cmake options...]
build_project() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$BUILD" -j2
}
