#!/usr/bin/env bash
# The demo: a fresh default machine (NT 3.51 on x86, administrator, spooler
# running), setup run on it unattended from the sample distribution, and the
# machine's state shown before and after.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
work="${DEMO_DIR:-$root/build/demo}"
rm -rf "$work"
mkdir -p "$work"
echo "== creating a fresh machine in $work/machine"
"$bin/winsim" new "$work/machine" --os nt351 --arch x86 --user admin
"$bin/winsim" show "$work/machine"
if [ -x "$bin/setup" ] && [ -f "$root/dist/setup.inf" ] && [ -f "$root/dist/answers/demo.ans" ]; then
  echo
  echo "== running setup unattended (answers: dist/answers/demo.ans, log: $work/setup.log)"
  cp -r "$work/machine" "$work/before"
  status=0
  (cd "$root/dist" && "$bin/setup" --machine "$work/machine" --answers answers/demo.ans --log "$work/setup.log") || status=$?
  cat "$work/setup.log"
  echo "setup exit code: $status"
  echo
  echo "== what changed on the machine"
  "$bin/winsim" diff "$work/before" "$work/machine" || true
fi
