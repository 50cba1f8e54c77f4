#!/usr/bin/env bash
# The same fresh typical installation on the simulated machine (NT 3.51,
# x86) and under Wine posing as NT 3.51, compared: the monitor key's module,
# the printer drivers, the version key, the package's files and the group's
# items. Differences are listed, not judged: Wine's are explained in
# docs/wine-conformance.md.
# Usage: tools/wine-side-by-side.sh WINE-PREFIX DIST OUT
# WINE-PREFIX: a prefix after the Wine installation; DIST: the distribution
# copy both runs use; OUT: a folder for the lists. Needs build/bin (make build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prefix="$(realpath "$1")" dist="$(realpath "$2")" out="$(realpath -m "$3")"
bin="$root/build/bin"
for f in winsim setup; do
  [ -x "$bin/$f" ] || { echo "  FAIL side by side: $bin/$f is missing (make build)"; exit 1; }
done
rm -rf "$out" && mkdir -p "$out"
machine="$out/machine"
"$bin/winsim" new "$machine" --os nt351 --arch x86 --user admin >/dev/null
# The PostScript modules in the spooler's version subdirectory, as a machine
# that printed PostScript before has them. (Fetching them from the machine's
# Windows distribution needs VerInstallFile, which the simulated machine
# does not have yet.)
mods="$machine/drives/C/WINNT35/system32/spool/DRIVERS/W32X86/1"
mkdir -p "$mods"
for m in pscript.dll pscrptui.dll; do printf 'placeholder PostScript module\n' >"$mods/$m"; done
status=0
(cd "$dist" && "$bin/setup" --machine "$machine" --answers answers/install-default.ans --log "$out/winsim.log") \
  >"$out/winsim.out" 2>&1 || status=$?
[ "$status" = 0 ] || { echo "  FAIL side by side: setup on the simulated machine ended with $status"; exit 1; }

monitors='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Monitors\Varden Network Port'
drivers='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Environments\Windows NT x86\Drivers'
version='HKEY_LOCAL_MACHINE\SOFTWARE\VardenWorks\Quillar\CurrentVersion'

# One list per side and aspect, sorted, lower case where Windows ignores case.
"$bin/winsim" reg export "$machine" "$monitors" | tr -d '\r' | sed -n 's/^"Driver"="\(.*\)"$/\1/p' >"$out/monitor.winsim"
WINEPREFIX="$prefix" wine reg query 'HKLM\System\CurrentControlSet\Control\Print\Monitors\Varden Network Port' /v Driver 2>/dev/null |
  tr -d '\r' | sed -n 's/^ .*    REG_[A-Z_]*    //p' >"$out/monitor.wine"
"$bin/winsim" reg export "$machine" "$drivers" | tr -d '\r' |
  sed -n 's/^\[.*\\Drivers\\\(Version-[0-9]*\\\)\{0,1\}\([^\\]*\)\]$/\2/p' | sort -f | uniq >"$out/drivers.winsim"
WINEPREFIX="$prefix" wine "$root/build-windows/bin/vrdcheck.exe" drivers 2>/dev/null | tr -d '\r' |
  sed -n 's/^driver \([^|]*\)|.*/\1/p' | grep -v '^Generic\|^Wine' | sort -f | uniq >"$out/drivers.wine"
"$bin/winsim" reg export "$machine" "$version" | tr -d '\r' | sed -n 's/^"\(.*\)"="\(.*\)"$/\1=\2/p' |
  grep -v '^Install Date=' | sort >"$out/version.winsim" || true
WINEPREFIX="$prefix" wine reg query 'HKLM\SOFTWARE\VardenWorks\Quillar\CurrentVersion' 2>/dev/null | tr -d '\r' |
  sed -n 's/^    \(.*\)    REG_[A-Z_]*    \(.*\)$/\1=\2/p' | grep -v '^Install Date=' | sort >"$out/version.wine" || true
(cd "$machine/drives/C/win32app/vrdpsmon" 2>/dev/null && find . -type f | tr 'A-Z' 'a-z' | sort) >"$out/files.winsim" || true
(cd "$prefix/drive_c/win32app/vrdpsmon" 2>/dev/null && find . -type f | tr 'A-Z' 'a-z' | sort) >"$out/files.wine" || true
python3 - "$machine/machine.json" >"$out/group.winsim" <<'PY' || true
import json, sys
m = json.load(open(sys.argv[1]))
for g in m.get("dde", {}).get("progman", {}).get("groups", []):
    if g.get("name") == "Varden Network Printers":
        for i in g.get("items", []):
            print(i.get("name"))
PY
sort -o "$out/group.winsim" "$out/group.winsim"
group="$prefix/drive_c/users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Varden Network Printers"
(cd "$group" 2>/dev/null && ls *.lnk | sed 's/\.lnk$//' | sort) >"$out/group.wine" || true

for aspect in monitor drivers version files group; do
  a="$out/$aspect.winsim" b="$out/$aspect.wine"
  if cmp -s "$a" "$b"; then
    echo "  same $aspect ($(wc -l <"$a") lines)"
  else
    echo "  diff $aspect: winsim $(wc -l <"$a") lines, Wine $(wc -l <"$b") lines"
    { diff "$a" "$b" || true; } | sed -n 's/^</       only winsim:/p; s/^>/       only Wine:  /p' | head -n 20
  fi
done
