#!/usr/bin/env bash
# Installs, from Debian 12's archive, whatever the build, the program and the
# tests need and the machine does not have yet (needs root or sudo for that);
# then the npm package mdb-reader, a second independent reader of Access files
# for the writer's tests, into build/node-checkers of this checkout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation
  libgtest-dev libgmock-dev zlib1g-dev libssl-dev
  clang libclang-rt-14-dev
  mdbtools python3 python3-dbfread python3-dbf
)
# A compiler cache for repeated builds (tools/test.sh uses it when present).
packages+=(ccache)
# The Debian package and its checks (tools/package.sh, tools/check-package.sh):
# dpkg-shlibdeps finds its dependencies; lintian, desktop-file-validate and
# appstreamcli check it.
packages+=(dpkg-dev lintian desktop-file-utils appstream)
# Node and npm from Debian only where there is none yet: a node installed
# some other way (with its own npm) stays as it is.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

install_debian_packages() {
  local missing=() p status
  for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0

  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
  fi
  echo "install-deps: installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# mdb-reader, at exactly the version the tests were written against.  Nothing
# is fetched when that version is already there.  Without a network the tests
# that use it skip, so a failed install is a warning, not an error.
mdb_reader_version=3.2.0
install_mdb_reader() {
  local prefix="$root/build/node-checkers"
  local manifest="$prefix/node_modules/mdb-reader/package.json"
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "install-deps: warning: node or npm is missing; the mdb-reader checks will skip" >&2
    return 0
  fi
  if [[ -f "$manifest" ]] &&
     [[ $(node -p 'require(process.argv[1]).version' "$manifest" 2>/dev/null) == "$mdb_reader_version" ]]; then
    return 0
  fi
  echo "install-deps: installing mdb-reader $mdb_reader_version into $prefix"
  mkdir -p "$prefix"
  if ! npm install --no-audit --no-fund --save-exact --fetch-retries=1 --fetch-timeout=60000 \
         --prefix "$prefix" "mdb-reader@$mdb_reader_version" >/dev/null; then
    echo "install-deps: warning: could not install mdb-reader $mdb_reader_version with npm;" \
         "the mdb-reader checks will skip" >&2
  fi
}

install_debian_packages
install_mdb_reader
