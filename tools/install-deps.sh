#!/usr/bin/env bash
# Installs the Debian packages the build needs that a fresh machine lacks.
# Usage: tools/install-deps.sh [linux|windows]
set -euo pipefail
case "${1:-linux}" in
  linux)   want=(cmake g++ make ccache nlohmann-json3-dev libgtest-dev libbenchmark-dev pkg-config libmspack-dev gcab) ;;
  windows) want=(cmake make ccache g++-mingw-w64-x86-64) ;;
  *) echo "usage: $0 [linux|windows]" >&2; exit 2 ;;
esac
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "install them as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
