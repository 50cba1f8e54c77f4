#!/usr/bin/env bash
# Compares the conformance results of one Wine run with the known
# differences. Usage: tools/wine-conformance.sh VERSION RESULTS DIFFERENCES
# RESULTS: conformance.exe output ("PASS x.y" / "FAIL x.y: why" lines).
# DIFFERENCES: lines "family.name VERSIONS KIND explanation", VERSIONS being
# nt351, win95 or both; '#' starts a comment.
# Exit code 1 when a case fails that is not listed, when a listed case
# passes (the table would be wrong) or when the run did not finish.
set -euo pipefail
version="$1" results="$2" differences="$3"
if ! grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$results"; then
  echo "  FAIL conformance ($version): the run did not finish"; tail -n 5 "$results" | sed 's/^/       /'
  exit 1
fi
awk -v version="$version" '
  FNR == NR {
    if ($0 ~ /^[ \t]*(#|$)/) next
    if ($2 == version || $2 == "both") { listed[$1] = $3; total_listed++ }
    next
  }
  /^PASS / { name = $2; status[name] = "pass"; order[++n] = name }
  /^FAIL / { name = $2; sub(/:$/, "", name); if (!(name in status)) order[++n] = name; status[name] = "fail"; why[name] = why[name] "\n         " $0 }
  END {
    bad = 0; agree = 0; gaps = 0; versions = 0
    for (i = 1; i <= n; i++) {
      name = order[i]
      if (status[name] == "pass") {
        if (name in listed) { printf "  FAIL %s (%s): listed as a difference (%s) but agrees now\n", name, version, listed[name]; bad++ }
        else agree++
      } else if (name in listed) {
        if (listed[name] == "wine-gap") gaps++; else versions++
        printf "  diff %s (%s): known %s\n", name, version, listed[name]
      } else {
        printf "  FAIL %s (%s): differs and is not listed%s\n", name, version, why[name]; bad++
      }
    }
    considered = n - gaps
    pct = considered ? 100.0 * agree / considered : 0
    printf "  conformance (%s): %d cases, %d agree, %d known Wine gaps, %d other known differences; %.1f%% agree without the Wine gaps\n", version, n, agree, gaps, versions, pct
    exit bad ? 1 : 0
  }' "$differences" "$results"
