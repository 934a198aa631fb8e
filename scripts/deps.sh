#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need, when any is missing.
# Sourced by run.sh and test.sh; safe to run again at any time.
set -euo pipefail

QAV_PACKAGES=(
  cmake ninja-build pkg-config g++
  qt6-base-dev
  libsqlite3-dev libjpeg-dev sqlite3 time
  unixodbc unixodbc-dev tdsodbc libsqliteodbc
  fonts-thai-tlwg python3-aiosmtpd freetds-bin python3-tds python3-pymssql
  libzip-dev unzip libreoffice-writer-nogui libreoffice-calc-nogui gnumeric
  xvfb xdotool
  libxlsxwriter-dev python3-openpyxl
  libgnutls28-dev python3-openssl
)

qav_missing_packages() {
  local pkg
  for pkg in "${QAV_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
  done
}

qav_install_deps() {
  local missing
  missing=$(qav_missing_packages)
  [ -z "$missing" ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing missing packages: $(echo $missing)" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  # shellcheck disable=SC2086
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing >&2
}

qav_build() {
  local dir=$1; shift
  local gen=()
  command -v ninja >/dev/null && gen=(-G Ninja)
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
  cmake --build "$dir" --parallel "$(nproc)"
}
