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

check_reg_value() {  # PREFIX KEY VALUE EXPECTED
  local got
  got="$(wine_in "$1" reg query "$2" /v "$3" 2>/dev/null | tr -d '\r' | awk -v v="$3" 'tolower($1)==tolower(v) {print $NF}')"
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

for version in nt351 win95; do
  echo
  echo "== setup.exe posing as $version: fresh typical installation (answers install-default.ans)"
  p="$(new_prefix "install-$version" "$version")"
  log="$out/install-$version.log"
  status="$(run_setup "$p" "$distcopy/answers/install-default.ans" "$log")"
  sed 's/^/       /' "$log"
  check_exit_line "$log" "$status" "$version install"
  check_log_has "$log" "page 100 FWelcomeDlgProc CONTINUE" "$version install"
  check_log_has "$log" "page 800 FInstallTypeDlgProc CONTINUE" "$version install"
  if [ "$version" = nt351 ]; then
    # The program starts the spooler itself when it is not running; the
    # prefix starts it with the session, so it must find it running.
    if grep -q "^box " "$log"; then fail "$version install: a message box was shown"; else pass "$version install: no message box"; fi
  fi
  end_session "$p"
done

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
