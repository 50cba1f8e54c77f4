#!/usr/bin/env bash
# Installs the Debian packages the build needs that a fresh machine lacks.
# Usage: tools/install-deps.sh [linux|windows|wine|fuzz]
set -euo pipefail
case "${1:-linux}" in
  linux)   want=(cmake g++ make ccache nlohmann-json3-dev libgtest-dev libbenchmark-dev pkg-config libmspack-dev gcab) ;;
  windows) want=(cmake make ccache g++-mingw-w64-i686 g++-mingw-w64-x86-64) ;;
  # Wine for the 32-bit programs (wine32 is an i386 package) and the X
  # display its Program Manager needs.
  wine)    want=(wine wine32:i386 xvfb xauth) ;;
  # clang and its run-time libraries, which hold libFuzzer and the sanitizers.
  fuzz)    want=(cmake make ccache clang libclang-rt-14-dev nlohmann-json3-dev libgtest-dev pkg-config libmspack-dev) ;;
  *) echo "usage: $0 [linux|windows|wine|fuzz]" >&2; exit 2 ;;
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
if [ "${1:-linux}" = wine ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
extra=()
# Wine's recommended packages (fonts, sound, Mono) are not needed unattended.
[ "${1:-linux}" = wine ] && extra=(--no-install-recommends)
apt-get install -y -qq "${extra[@]}" "${missing[@]}" >/dev/null
