#!/usr/bin/env bash
# make wine-test: the 32-bit setup.exe, the port monitor and the conformance
# cases under Wine, unattended, on fresh Wine prefixes under build-windows/wine.
#   - the monitor module: AddMonitor, ports added, listed and deleted;
#   - setup.exe posing as Windows NT 3.51 and as Windows 95 from answer files;
#   - the conformance cases posing as NT 3.51 and as Windows 95, compared with
#     the list of known differences (tests/conformance/wine-differences.txt).
# Needs `make windows` first. Installs wine, wine32:i386 and xvfb when missing
# (as root). Exit code 0 when every check passed; 77 when this machine's
# kernel cannot run 32-bit programs, so the check could not run at all.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build-windows/bin"
out="$root/build-windows/wine"

if [ "${1:-}" != "--inner" ]; then
  "$root/tools/install-deps.sh" wine
  # Wine's 32-bit loader needs a kernel that runs 32-bit x86 programs; some
  # virtual machines are built without it. Exit 77: the check could not run.
  if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    why="this kernel cannot execute 32-bit x86 programs (no IA-32 emulation), so Wine cannot start"
    echo "$why" > "$root/build-windows/wine-not-run"
    echo "wine-test: NOT RUN: $why" >&2
    exit 77
  fi
  for f in setup.exe vrdpsmon.dll vrdcheck.exe conformance.exe; do
    [ -f "$bin/$f" ] || { echo "wine-test: $bin/$f is missing; run make windows first" >&2; exit 1; }
  done
  # One X display for the whole run: Wine's Program Manager DDE server needs one.
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inner
fi

export WINEDEBUG=-all WINEARCH=win32
# No Mono or Gecko installer dialogs while a prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Every Wine program gets this long before it counts as hung.
limit=300
started=$(date +%s)
failures=0
pass() { echo "  ok   $*"; }
fail() { echo "  FAIL $*"; failures=$((failures + 1)); }
winpath() { echo "Z:${1//\//\\}"; }

wine_in() {  # PREFIX COMMAND...: runs a Wine command in the given prefix
  local prefix="$1"; shift
  WINEPREFIX="$prefix" timeout "$limit" wine "$@"
}

end_session() {  # PREFIX: ends the prefix's Wine session and waits for it
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w >/dev/null 2>&1 || true
}

rm -rf "$out"
mkdir -p "$out"

echo "== base Wine prefix"
base="$out/base"
t0=$(date +%s)
WINEPREFIX="$base" timeout "$limit" wineboot -i >/dev/null 2>&1
# The spooler starts with each session (Wine leaves it on demand start);
# a crash never waits on a dialog.
wine_in "$base" reg add 'HKLM\System\CurrentControlSet\Services\Spooler' /v Start /t REG_DWORD /d 2 /f >/dev/null 2>&1
wine_in "$base" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
end_session "$base"
echo "  made in $(( $(date +%s) - t0 )) s"

new_prefix() {  # NAME VERSION: a copy of the base prefix posing as VERSION
  local prefix="$out/$1"
  rm -rf "$prefix"
  cp -a "$base" "$prefix"
  wine_in "$prefix" reg add 'HKCU\Software\Wine' /v Version /d "$2" /f >/dev/null 2>&1
  echo "$prefix"
}

# The distribution the Wine runs use: dist/ with our built monitor modules in
# place of the placeholder files.
distcopy="$out/dist"
cp -a "$root/dist" "$distcopy"
cp "$bin/vrdpsmon.dll" "$bin/vrdpsmw4.dll" "$distcopy/"

. "$root/tools/wine-scenarios.sh"

echo
echo "wine-test: $failures failure(s), $(( $(date +%s) - started )) s"
[ "$failures" -eq 0 ]
