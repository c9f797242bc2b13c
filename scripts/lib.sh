# shellcheck shell=bash
# Set-up shared by build-and-run.sh and test.sh; source it, then call quorix_prepare.
#
# quorix_prepare installs whatever Debian packages the build still lacks and then configures
# and builds the project in $QUORIX_BUILD_DIR (default: build/ in the repository).

QUORIX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUORIX_BUILD_DIR=${QUORIX_BUILD_DIR:-$QUORIX_ROOT/build}

# The compiler and CMake, GoogleTest and msgpack-c for the C++ tests, and Python's msgpack for
# the test that loads the library the way a foreign host does; venv, setuptools and wheel for
# the test that pip-installs the Python package offline.
QUORIX_PACKAGES=(build-essential cmake g++ libgtest-dev libmsgpack-dev python3 python3-msgpack
  python3-venv python3-setuptools python3-wheel)
# A script that needs more (sanitize.sh wants valgrind) adds the names, separated by spaces, to
# QUORIX_EXTRA_PACKAGES before it calls quorix_install_packages; nobody else pays for them.
QUORIX_EXTRA_PACKAGES=${QUORIX_EXTRA_PACKAGES:-}

quorix_missing_packages() {
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$pkg"
    fi
  done
}

quorix_install_packages() {
  local missing extra
  read -r -a extra <<<"$QUORIX_EXTRA_PACKAGES"
  mapfile -t missing < <(quorix_missing_packages "${QUORIX_PACKAGES[@]}" "${extra[@]}")
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "Installing ${missing[*]}" >&2
  local sudo=()
  if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
      echo "error: need root (or sudo) to install: ${missing[*]}" >&2
      return 1
    fi
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
}

quorix_build() {
  cmake -S "$QUORIX_ROOT" -B "$QUORIX_BUILD_DIR"
  cmake --build "$QUORIX_BUILD_DIR" -j "$(nproc)"
}

quorix_prepare() {
  quorix_install_packages
  quorix_build
}
