# The scenarios of make wine-test; sourced by tools/wine-test.sh, which
# provides new_prefix, wine_in, end_session, pass, fail, winpath, $bin,
# $out and $distcopy.

# Runs setup.exe in PREFIX from the distribution copy with ANSWERS, logging
# to LOG; prints the exit code.
run_setup() {
  local prefix="$1" answers="$2" log="$3" status=0
  rm -f "$log"
  (cd "$distcopy" && WINEPREFIX="$prefix" timeout "$limit" wine "$bin/setup.exe" \
     --answers "$(winpath "$answers")" --log "$(winpath "$log")" >"$log.out" 2>&1) || status=$?
  # The Windows C library writes the log in text mode (CRLF); the checks
  # read it as the Linux log.
  [ -f "$log" ] && tr -d '\r' <"$log" >"$log.tmp" && mv "$log.tmp" "$log"
  echo "$status"
}

# The log ends with the exit line of the code the process returned.
check_exit_line() {
  local log="$1" status="$2" what="$3"
  if [ "$status" = 124 ]; then
    fail "$what: setup.exe did not end within $limit s (waiting on something?)"
  elif [ "$(tail -n 1 "$log" 2>/dev/null)" = "exit $status" ]; then
    pass "$what: the log ends with 'exit $status'"
  else
    fail "$what: the log does not end with 'exit $status' (last line: $(tail -n 1 "$log" 2>/dev/null))"
  fi
}

check_log_has() {
  local log="$1" line="$2" what="$3"
  if grep -qxF "$line" "$log"; then pass "$what: log has '$line'"; else fail "$what: log lacks '$line'"; fi
}

check_key_gone() {  # PREFIX KEY WHAT
  if wine_in "$1" reg query "$2" >/dev/null 2>&1; then fail "$3 is still there"; else pass "$3 is gone"; fi
}

check_path_gone() {  # PREFIX PATH-BELOW-C WHAT
  if [ -e "$1/drive_c/$2" ]; then fail "$3 is still there"; else pass "$3 is gone"; fi
}

check_reg_value() {  # PREFIX KEY VALUE EXPECTED
  local got
  got="$(wine_in "$1" reg query "$2" /v "$3" 2>/dev/null | tr -d '\r' | sed -n 's/^ .*    REG_[A-Z_]*    //p' | head -n 1)"
  if [ "$got" = "$4" ]; then pass "$2\\$3 = $4"; else fail "$2\\$3 is '$got', expected '$4'"; fi
}

echo
echo "== the port monitor on Wine's spooler (posing as NT 3.51)"
p="$(new_prefix monitor nt351)"
cp "$bin/vrdpsmon.dll" "$p/drive_c/windows/system32/"
if wine_in "$p" "$bin/vrdcheck.exe" monitor "Varden Network Port" vrdpsmon.dll VRD1: VRD2: >"$out/monitor.txt" 2>&1; then
  pass "AddMonitor, AddPortEx, EnumPorts, DeletePort and DeleteMonitor with vrdpsmon.dll"
else
  fail "monitor round trip: $(grep FAIL "$out/monitor.txt" | head -3 | tr '\n' ' ')"
fi
sed 's/^/       /' "$out/monitor.txt"
end_session "$p"

check_file() {  # PREFIX PATH-BELOW-C [SAME-AS-HOST-FILE]
  local f="$1/drive_c/$2" shown="C:\\${2//\//\\}"
  if [ ! -f "$f" ]; then fail "$shown is missing"; return; fi
  if [ -n "${3:-}" ] && ! cmp -s "$f" "$3"; then fail "$shown differs from $3"; return; fi
  pass "$shown is there${3:+ (same as $(basename "$3") of the build or the test distribution)}"
}

check_check() {  # PREFIX WHAT LINE: a line of vrdcheck WHAT
  if wine_in "$1" "$bin/vrdcheck.exe" "$2" 2>/dev/null | tr -d '\r' | grep -qxF "$3"; then
    pass "vrdcheck $2 lists '$3'"
  else
    fail "vrdcheck $2 does not list '$3'"
  fi
}

monitors_key='HKLM\System\CurrentControlSet\Control\Print\Monitors\Varden Network Port'
version_key='HKLM\SOFTWARE\VardenWorks\Quillar\CurrentVersion'
group_dir='users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Varden Network Printers'

# A fake Windows distribution with our own placeholder PostScript modules,
# which the NT installation fetches through its distribution-path page.
windist="$out/windist"
mkdir -p "$windist"
printf 'placeholder PostScript module of the test distribution (pscript.dll)\n' >"$windist/pscript.dll"
printf 'placeholder PostScript module of the test distribution (pscrptui.dll)\n' >"$windist/pscrptui.dll"

echo
echo "== setup.exe posing as NT 3.51: fresh typical installation, PostScript modules fetched"
p="$(new_prefix install-nt351 nt351)"
# Where NT records its distribution; the path page offers it and it is taken.
wine_in "$p" reg add 'HKLM\SYSTEM\Setup' /v WinntPath /d "$(winpath "$windist")" /f >/dev/null 2>&1
end_session "$p"
# Wine's Program Manager refuses an item whose command line has arguments
# ("WRITE file.wri"), so the run ends on the toolkit error page there.
answers="$out/install-nt351.ans"
printf '100 CONTINUE\n800 CONTINUE ButtonChecked=1\n1100 CONTINUE\n2300 CONTINUE\n' >"$answers"
log="$out/install-nt351.log"
status="$(run_setup "$p" "$answers" "$log")"
sed 's/^/       /' "$log"
check_exit_line "$log" "$status" "nt351 install"
check_log_has "$log" "page 1100 FEditDlgProc CONTINUE" "nt351 install"
if grep -q '^progman .*AddItem("WRITE .*refused (DDE error 16393)$' "$log" && grep -qxF "error Error code = 1024" "$log"; then
  pass "nt351 install: stops where Wine's Program Manager refuses 'WRITE file' items (known Wine gap)"
else
  fail "nt351 install: did not stop at the Program Manager group as expected under Wine"
fi
check_reg_value "$p" "$monitors_key" Driver vrdpsmon.dll
check_check "$p" monitors "monitor Varden Network Port|vrdpsmon.dll"
check_file "$p" windows/system32/vrdpsmon.dll "$bin/vrdpsmon.dll"
check_file "$p" windows/system32/spool/drivers/w32x86/3/pscript.dll "$windist/pscript.dll"
check_file "$p" windows/system32/spool/drivers/w32x86/3/vls1200.ppd
check_check "$p" drivers "driver Varden LaserStream 1200/Japanese|3|pscript.dll|vls12j.ppd|pscrptui.dll"
check_file "$p" win32app/vrdpsmon/utility/vrdpswiz.exe
wine_in "$p" "$bin/vrdcheck.exe" drivers 2>/dev/null | tr -d '\r' >"$out/drivers-nt351.txt" || true
echo "       $(grep -c '^driver Varden' "$out/drivers-nt351.txt") Varden drivers"
echo
echo "== side by side: the same installation on the simulated machine (NT 3.51, x86) and under Wine"
"$root/tools/wine-side-by-side.sh" "$p" "$distcopy" "$out/side-by-side" || failures=$((failures + 1))
end_session "$p"

echo
echo "== setup.exe posing as NT 3.51: removal of that installation"
log="$out/remove-nt351.log"
status="$(run_setup "$p" "$distcopy/answers/remove.ans" "$log")"
sed 's/^/       /' "$log"
check_exit_line "$log" "$status" "nt351 removal"
check_log_has "$log" "page 800 FInstallTypeDlgProc CONTINUE" "nt351 removal"
# Wine's performance data has no "Process" object, so the removal stops
# where it looks for a running Print Manager, before it changes anything.
if grep -q "^error Unable to stop Print Manager" "$log"; then
  pass "nt351 removal: stops at the Print Manager check (no Process object in Wine's performance data)"
  check_reg_value "$p" "$monitors_key" Driver vrdpsmon.dll
  check_file "$p" windows/system32/vrdpsmon.dll "$bin/vrdpsmon.dll"
else
  check_key_gone "$p" "$monitors_key" "nt351 removal: the monitor key"
  check_path_gone "$p" win32app/vrdpsmon/utility/vrdpswiz.exe "nt351 removal: the wizard"
fi
end_session "$p"

echo
echo "== setup.exe posing as Windows 95: fresh typical installation"
p="$(new_prefix install-win95 win95)"
# The PostScript driver Windows 95 keeps in its driver directory (Wine's
# is spool\drivers\win40).
printf 'placeholder PostScript driver of the test distribution (pscript.drv)\n' \
  >"$p/drive_c/windows/system32/spool/drivers/win40/pscript.drv"
log="$out/install-win95.log"
status="$(run_setup "$p" "$distcopy/answers/install-default.ans" "$log")"
sed 's/^/       /' "$log"
check_exit_line "$log" "$status" "win95 install"
[ "$status" = 0 ] && pass "win95 install: exit code 0" || fail "win95 install: exit code $status"
if grep -q "^box \|^error \|^progman " "$log"; then fail "win95 install: a box, error or refused command"; else pass "win95 install: no box, no error"; fi
check_reg_value "$p" "$monitors_key" Driver vrdpsmw4.dll
check_check "$p" monitors "monitor Varden Network Port|vrdpsmw4.dll"
check_file "$p" windows/system32/vrdpsmw4.dll "$bin/vrdpsmw4.dll"
check_reg_value "$p" "$version_key" "Version Installed" V5.1-1
check_check "$p" drivers "driver Varden ColorStream 1000 Plus|0|pscript.drv|vcs10p.ppd|pscript.drv"
check_file "$p" win32app/vrdpsmon/utility/vrdpswiz.exe
for item in "Varden Network Printing Help" "Varden Network Printer Setup Wizard" "Varden Remote Console for Windows" \
            "Varden ORVEL for Windows" "READ ME! Release notes for Version 5.1" "Version 5.1 Software Product Description"; do
  check_file "$p" "$group_dir/$item.lnk"
done
end_session "$p"

echo
echo "== setup.exe posing as Windows 95: upgrade over that installation"
log="$out/upgrade-win95.log"
status="$(run_setup "$p" "$distcopy/answers/upgrade-restart-later.ans" "$log")"
sed 's/^/       /' "$log"
check_exit_line "$log" "$status" "win95 upgrade"
if grep -q "^page 1000 .* CONTINUE$" "$log"; then pass "win95 upgrade: the upgrade notice (page 1000)"; else fail "win95 upgrade: no upgrade notice (page 1000)"; fi
check_reg_value "$p" "$version_key" "Version Installed" V5.1-1
end_session "$p"

echo
echo "== setup.exe posing as Windows 95: removal of that installation"
log="$out/remove-win95.log"
status="$(run_setup "$p" "$distcopy/answers/remove-restart-later.ans" "$log")"
sed 's/^/       /' "$log"
check_exit_line "$log" "$status" "win95 removal"
[ "$status" = 0 ] && pass "win95 removal: exit code 0" || fail "win95 removal: exit code $status"
if grep -q "^box \|^error " "$log"; then fail "win95 removal: a box or an error"; else pass "win95 removal: no box, no error"; fi
check_key_gone "$p" "$monitors_key" "win95 removal: the monitor key"
check_key_gone "$p" "$version_key" "win95 removal: the version key"
check_path_gone "$p" "$group_dir" "win95 removal: the program group"
check_path_gone "$p" win32app/vrdpsmon/utility/vrdpswiz.exe "win95 removal: the wizard"
end_session "$p"

echo
echo "== conformance cases"
for version in nt351 win95; do
  p="$(new_prefix "conformance-$version" "$version")"
  results="$out/conformance-$version.txt"
  wine_in "$p" "$bin/conformance.exe" >"$results" 2>&1 || true
  tr -d '\r' <"$results" >"$results.tmp" && mv "$results.tmp" "$results"
  "$root/tools/wine-conformance.sh" "$version" "$results" "$root/tests/conformance/wine-differences.txt" ||
    failures=$((failures + 1))
  end_session "$p"
done
