#!/usr/bin/env bash
# Runs the mingw-w64 build of setup.exe under Wine posing as a given Windows
# version, unattended from an answers file, and prints its log.
# Usage: tools/wine-check.sh VERSION ANSWERS   (VERSION: win95, nt351, nt40, ...)
# Needs `make windows` first and Debian's wine64 package.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
version="${1:?usage: $0 VERSION ANSWERS}"
answers="$(realpath "${2:?usage: $0 VERSION ANSWERS}")"
command -v wine >/dev/null || { echo "wine is not installed (apt-get install wine64)" >&2; exit 1; }
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wineprefix}" WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wine wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
log="$root/build-windows/wine-$version.log"
rm -f "$log"
status=0
(cd "$root/dist" && wine "$root/build-windows/bin/setup.exe" --answers "Z:${answers//\//\\}" --log "Z:${log//\//\\}") || status=$?
cat "$log"
echo "setup.exe exit code under Wine ($version): $status"
