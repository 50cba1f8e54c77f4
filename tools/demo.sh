#!/usr/bin/env bash
# The demo: a fresh copy of the default machine (Windows NT 3.51 on x86, the
# user an administrator, the spooler running); a preview of the installation
# (--dry-run) that leaves the machine as it is; the unattended typical
# installation from the sample distribution with every page shown as it
# passes and the choice made on it, a gauge while the files are copied and
# the status pages; the check that the preview was exact; and what the
# installation changed on the machine (--report), with the run's result.
#
# Environment: DEMO_DIR (default build/demo) holds the machine before and
# after, the log, the preview and the report; DEMO_ANSWERS picks another
# answers file of dist/answers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
work="${DEMO_DIR:-$root/build/demo}"
answers="${DEMO_ANSWERS:-$root/dist/answers/demo.ans}"

for tool in winsim setup; do
    if [ ! -x "$bin/$tool" ]; then
        echo "demo: $bin/$tool is not built (run 'make demo', which builds first)" >&2
        exit 1
    fi
done
if [ ! -f "$answers" ]; then
    echo "demo: no answers file $answers" >&2
    exit 1
fi

bold() { if [ -t 1 ]; then printf '\033[1m%s\033[0m\n' "$*"; else printf '%s\n' "$*"; fi; }

rm -rf "$work"
mkdir -p "$work"

bold "== A fresh copy of the default machine"
"$root/tools/make-default-machine.sh" >/dev/null
cp -a "$root/machines/default" "$work/machine"
cp -a "$work/machine" "$work/before"
"$bin/winsim" show "$work/machine" | head -n 1
echo "   (machines/default, copied to $work/machine)"
echo

bold "== Preview: setup --dry-run"
# The whole run on a scratch copy of the machine: its changes are printed,
# the machine is left as it was.
(cd "$root/dist" && "$bin/setup" --machine "$work/machine" --answers "$answers" --dry-run) >"$work/preview.out" 2>&1 || true
sed -n '/^Dry run:/,/^$/p' "$work/preview.out" | sed '1d;/^$/d' >"$work/preview.txt"
grep '^Dry run:' "$work/preview.out" | sed 's/^/  /' || echo "  (no preview: see $work/preview.out)"
for kind in file key value state; do
    for sign in + - '~'; do
        n="$(grep -c "^[$sign] $kind " "$work/preview.txt" || true)"
        [ "$n" = "0" ] || printf '    %s %4d %s\n' "$sign" "$n" "$kind"
    done
done
if "$bin/winsim" diff "$work/before" "$work/machine" >/dev/null; then
    echo "  winsim diff: the machine is as it was before the preview"
else
    echo "  winsim diff: the machine changed during the preview!"
fi
echo

bold "== Setup, unattended (answers: ${answers#$root/})"
# The answers front-end prints each page and the event chosen on it; the
# filter puts the values the answers file set on that page beside the
# event, and turns the copy progress into a gauge.
status=0
(cd "$root/dist" && "$bin/setup" --machine "$work/machine" --answers "$answers" --log "$work/setup.log" \
    --report "$work/changes.txt") |
    awk -v answers="$answers" '
    BEGIN {
        n = 0
        while ((getline line < answers) > 0) {
            sub(/\r$/, "", line)
            if (line ~ /^[ \t]*(#|$)/) continue
            sub(/[ \t]+#.*$/, "", line)
            split(line, w, /[ \t]+/)
            extra = ""
            for (i = 3; i in w; i++) extra = extra (extra == "" ? "" : " ") w[i]
            choice[n++] = extra
        }
        k = 0
    }
    /^  -> / {
        if (choice[k] != "") print $0 "    (" choice[k] ")"; else print
        k++
        next
    }
    /^  copied [0-9]+ of [0-9]+ files, [0-9]+ of [0-9]+ KB/ {
        files = $2; totalFiles = $4; kb = $6; totalKb = $8
        width = 30
        filled = totalKb ? int(kb * width / totalKb) : width
        bar = ""
        for (i = 0; i < width; i++) bar = bar (i < filled ? "#" : ".")
        name = $0
        sub(/^  copied [0-9]+ of [0-9]+ files, [0-9]+ of [0-9]+ KB:? ?/, "", name)
        printf "  copying [%s] %3d%%  %d/%d files  %d/%d KB  %s\n", bar, totalKb ? kb * 100 / totalKb : 100,
               files, totalFiles, kb, totalKb, name
        next
    }
    { print }
    ' || status=$?
echo
echo "setup log: $work/setup.log, ending:"
tail -n 2 "$work/setup.log" 2>/dev/null | sed 's/^/  /' || echo "  (no log)"
[ "$status" -eq 0 ] || echo "demo: the output filter failed ($status)" >&2
echo

bold "== The preview was exact"
if cmp -s "$work/preview.txt" "$work/changes.txt"; then
    echo "  the $(wc -l <"$work/changes.txt") changes of the preview are the run's report, line for line"
else
    echo "  the preview and the report differ:"
    diff "$work/preview.txt" "$work/changes.txt" | head -n 20 | sed 's/^/    /'
fi
echo

bold "== What the installation changed (setup --report)"
"$bin/winsim" show "$work/before" >"$work/show-before.txt"
"$bin/winsim" show "$work/machine" >"$work/show-after.txt"

# Files: the new and changed files by directory, with their sizes.
echo "Files:"
grep -E '^[+~] file ' "$work/changes.txt" | grep -v '\\$' |
    awk '{ sign = $1; path = $3; dir = path; sub(/\\[^\\]*$/, "", dir); name = substr(path, length(dir) + 2)
           files[dir] = files[dir] (files[dir] == "" ? "" : ", ") (sign == "~" ? name " (changed)" : name); count[dir]++ }
         END { for (d in files) printf "  %s (%d): %s\n", d, count[d], files[d] }' | sort | fold -s -w 110 | sed 's/^\([^ ]\)/      \1/'
removed="$(grep -c '^- file ' "$work/changes.txt" || true)"
[ "$removed" = "0" ] || echo "  $removed files removed: $(grep '^- file ' "$work/changes.txt" | cut -c8- | tr '\n' ' ')"
echo

# Registry: keys added (printer drivers counted; they are listed below),
# and the values set under the product's and the monitor's keys.
echo "Registry:"
drivers="$(grep -cE '^\+ key .*\\Environments\\[^\\]*\\Drivers\\' "$work/changes.txt" || true)"
grep -E '^\+ key ' "$work/changes.txt" | grep -vE '\\Environments\\[^\\]*\\Drivers\\' | cut -c7- | sort | sed 's/^/  + /' || true
[ "$drivers" = "0" ] || echo "  + $drivers printer driver keys (Environments\\...\\Drivers, see Printer drivers)"
grep -E '^[+-] key ' "$work/changes.txt" | grep -E '^- ' | cut -c7- | sed 's/^/  - /' || true
grep -E '^[+-] value ' "$work/changes.txt" | grep -vE '\\Environments\\[^\\]*\\Drivers\\' |
    awk '{ sign = $1; $1 = ""; $2 = ""; sub(/^  /, ""); key = $0; sub(/\] .*/, "]", key); val = substr($0, length(key) + 2)
           if (key != last) { print "    " key; last = key } print "      " sign " " val }' || true
echo

# The sections of `winsim show` that the installation touches, each with
# its new lines marked "+" and its vanished ones "-".
section() {  # file, section title: the section's lines without the title
    awk -v t="$2" 'index($0, t) == 1 { on = 1; next } on && /^[^ ]/ { on = 0 } on' "$1"
}
for title in "Services:" "Print monitors:" "Printer drivers:" "Printers:" "Program Manager" "Programs started"; do
    before="$(section "$work/show-before.txt" "$title")"
    after="$(section "$work/show-after.txt" "$title")"
    if ! grep -q "^$title" "$work/show-after.txt" && [ -z "$after" ]; then continue; fi
    echo "$title"
    if [ "$before" = "$after" ]; then
        echo "  (unchanged)"
        continue
    fi
    diff <(printf '%s\n' "$before" | sed '/^ *$/d') <(printf '%s\n' "$after" | sed '/^ *$/d') |
        sed -n 's/^> /  + /p; s/^< /  - /p' || true
done
echo
echo "Every change: $work/changes.txt (setup --report; the same lines as winsim diff), machine before: $work/before"
echo

bold "== Try it yourself"
cat <<EOF
  Interactive run on a fresh copy (answer each page at the prompt):
    cp -a machines/default /tmp/my-machine
    (cd dist && ../build/bin/setup --machine /tmp/my-machine --log /tmp/my-machine.log)
  Preview a removal, and a report as JSON:
    (cd dist && ../build/bin/setup --machine $work/machine --dry-run --answers answers/remove.ans)
    (cd dist && ../build/bin/setup --machine /tmp/my-machine --report /tmp/changes.json)
  Exit codes for deployment tools (0, 3010, 1641, 1602, 1603): add --deploy-exit-codes
  Look at the machine:
    build/bin/winsim show $work/machine
    build/bin/winsim diff $work/before $work/machine
    build/bin/winsim reg export $work/machine 'HKEY_LOCAL_MACHINE\\SOFTWARE\\VardenWorks'
  Other runs: DEMO_ANSWERS=dist/answers/<file>.ans make demo
EOF
