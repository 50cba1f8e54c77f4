#!/usr/bin/env bash
# Makes the sample machines under machines/ (see machines/README.md), each a
# starting point a user of setup meets. Every one comes from 'winsim new';
# the two with an earlier release get its registry records from a REGEDIT4
# file, its files written into the image, and a restart ('winsim reboot') so
# that the spooler has loaded its monitor. Existing sample machines are
# replaced. Run after a build (needs build/bin/winsim and gcab).
#   tools/make-sample-machines.sh [NAME ...]     (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."
winsim=${WINSIM:-build/bin/winsim}
if [ ! -x "$winsim" ]; then
    echo "make-sample-machines: $winsim is not built (run 'make build' first)" >&2
    exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Writes a file into an image's drive C: (path relative to C:\, '/' separated).
put() {
    mkdir -p "$(dirname "machines/$1/drives/C/$2")"
    printf '%s\n' "$3" >"machines/$1/drives/C/$2"
}

# The registry records an earlier release left: its monitor under an older
# name with the same module, two ports, drivers on the names of that release
# (one of them, of a current name, in use) and printers on them.
earlier_release_reg() {  # env module
    local env=$1 module=$2 driver=$3 config=$4 print='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print'
    cat <<EOF
REGEDIT4

[$print\\Monitors\\Brevant Network Port]
"Driver"="$module"

[$print\\Monitors\\Brevant Network Port\\Ports\\VNP_LAB:]

[$print\\Monitors\\Brevant Network Port\\Ports\\VNP_OFFICE:]

[$print\\Monitors\\Brevant Network Port\\Files]
"Mgmt Sess Key"="mqtv42"
"Root"="C:\\\\win32app\\\\vrdpsmon"

EOF
    local d
    for d in "Varden LaserStream 600 v48.3|vls600.ppd" "Varden LaserStream 1200 v2013.113|vls1200.ppd" \
             "Varden DeskStream 1600 v48.3|vds1600.ppd" "Varden LaserStream 1200 Level2 16 MB v2013|vls12l2.ppd" \
             "Varden JobStream 3000|vjs3000.ppd"; do
        cat <<EOF
[$print\\Environments\\$env\\Drivers\\${d%%|*}]
"Driver"="$driver"
"Data File"="${d##*|}"
"Configuration File"="$config"
"Version"=dword:00000001

EOF
    done
    local p name port drv
    for p in "Lab LaserStream|VNP_LAB:|Varden LaserStream 600 v48.3" \
             "Office DeskStream|VNP_OFFICE:|Varden DeskStream 1600 v48.3" \
             "Print Room|VNP_LAB:|Varden JobStream 3000" \
             "Local Laser|LPT1:|Varden LaserStream 1200 v2013.113"; do
        IFS='|' read -r name port drv <<<"$p"
        cat <<EOF
[$print\\Printers\\$name]
"Name"="$name"
"Port"="$port"
"Printer Driver"="$drv"
"Print Processor"="WinPrint"
"Datatype"="RAW"
"Attributes"=dword:00000000
"Priority"=dword:00000001
"Status"=dword:00000000

EOF
    done
    cat <<EOF
[HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks\\Quillar\\CurrentVersion]
"Title"="Quillar for Windows"
"Software Type"="Print Monitor"
"Installation Version"="V4.8-3"
"Description"="Native support for Varden's network printers"
"Version Installed"="V4.8-3"
"Install Date"="14-Nov-1995 10:12:40"

EOF
}

make_fresh() {  # name os arch [options]
    local name=$1 os=$2 arch=$3
    shift 3
    rm -rf "machines/$name"
    "$winsim" new "machines/$name" --os "$os" --arch "$arch" --user admin "$@"
}

make_earlier_release() {  # name os
    local name=$1 os=$2
    if [ "$os" = win95 ]; then
        make_fresh "$name" win95 x86 --ps-modules driverdir
        local sys=WINDOWS/SYSTEM drivers=WINDOWS/SYSTEM
        earlier_release_reg "Windows 4.0" vrdpsmw4.dll pscript.drv pscript.drv >"$scratch/$name.reg"
        put "$name" "$sys/vrdpsmw4.dll" "Brevant monitor module 4.8 (Windows 95)"
    else
        make_fresh "$name" "$os" x86 --ps-modules versiondir
        local sys=WINNT35/system32 drivers=WINNT35/system32/spool/DRIVERS/W32X86/1
        earlier_release_reg "Windows NT x86" vrdpsmon.dll pscript.dll pscrptui.dll >"$scratch/$name.reg"
        put "$name" "$sys/vrdpsmon.dll" "Brevant monitor module 4.8 (NT)"
        put "$name" "$sys/vrdpsmon.hlp" "Brevant monitor help 4.8"
    fi
    for ppd in vls600 vls1200 vds1600 vls12l2 vjs3000; do
        put "$name" "$drivers/$ppd.ppd" "*PPD-Adobe: \"4.0\" (earlier release, $ppd)"
    done
    put "$name" win32app/vrdpsmon/utility/vrdpswiz.exe "Brevant printer setup wizard 4.8"
    put "$name" win32app/vrdpsmon/utility/vrdrcons.exe "Brevant remote console 4.8"
    "$winsim" reg import "machines/$name" "$scratch/$name.reg"
    "$winsim" reboot "machines/$name" >/dev/null
}

all=(nt351 nt351-earlier nt350 nt31 win95 win95-earlier nt351-alpha nt351-mips)
for name in "${@:-${all[@]}}"; do
    case "$name" in
        nt351)         make_fresh nt351 nt351 x86 ;;
        nt351-earlier) make_earlier_release nt351-earlier nt351 ;;
        nt350)         make_fresh nt350 nt350 x86 ;;
        nt31)          make_fresh nt31 nt31 x86 ;;
        win95)         make_fresh win95 win95 x86 ;;
        win95-earlier) make_earlier_release win95-earlier win95 ;;
        nt351-alpha)   make_fresh nt351-alpha nt351 alpha ;;
        nt351-mips)    make_fresh nt351-mips nt351 mips ;;
        *) echo "make-sample-machines: unknown machine '$name' (${all[*]})" >&2; exit 2 ;;
    esac
    echo "machines/$name: $("$winsim" show "machines/$name" | head -n 1)"
done
