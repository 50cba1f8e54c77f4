#!/usr/bin/env python3
"""Mutation check: plants single-line faults and counts how many the tests catch.

    tools/mutants.py --tree src -n 200 [--seed 1] [--work build-mutants]

Every candidate fault changes one line of one .cpp file of the chosen tree:
a comparison or logical operator swapped, a 0/1 constant or TRUE/FALSE
flipped, or a call statement dropped. N of them are drawn at random (the
seed makes the draw repeatable). The tracked files are copied once into a
scratch tree (`WORK/tree`) that is built there; for each fault the file is
changed, only what depends on it is rebuilt, and every test whose program
changed runs (a test program, or the `setup` and `winsim` programs that the
tests of some areas start): a test whose programs are the same as in the
tree that passed gives the same result again. A fault is killed when the
build still succeeds and a test fails; a fault that does not compile is not
counted. The scratch tree is built without optimisation beyond -O1 and
without debugging information (and with lld when it is there), which makes
each rebuild quicker; the unchanged tree must pass its tests in that build.

Faults that change nothing observable are listed in tools/mutants-accepted.txt
(one per line: `file | original line | faulty line | reason`); they are
reported apart and left out of the rate.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
ACCEPTED = ROOT / "tools" / "mutants-accepted.txt"

# (name, pattern, replacement). Patterns avoid templates, streams and
# includes: `<`/`>` only count with spaces around them.
OPERATORS = [
    ("== -> !=", re.compile(r"(?<=[\w\)\] ])==(?=[ \w\(!-])"), "!="),
    ("!= -> ==", re.compile(r"(?<=[\w\)\] ])!=(?=[ \w\(!-])"), "=="),
    ("< -> >=", re.compile(r"(?<= )<(?= )"), ">="),
    ("> -> <=", re.compile(r"(?<= )>(?= )"), "<="),
    ("<= -> >", re.compile(r"(?<= )<=(?= )"), ">"),
    (">= -> <", re.compile(r"(?<= )>=(?= )"), "<"),
    ("&& -> ||", re.compile(r"(?<= )&&(?= )"), "||"),
    ("|| -> &&", re.compile(r"(?<= )\|\|(?= )"), "&&"),
    ("0 -> 1", re.compile(r"(?<![\w.'\"])0(?![\w.'\"x])"), "1"),
    ("1 -> 0", re.compile(r"(?<![\w.'\"])1(?![\w.'\"])"), "0"),
    ("TRUE -> FALSE", re.compile(r"\bTRUE\b"), "FALSE"),
    ("FALSE -> TRUE", re.compile(r"\bFALSE\b"), "TRUE"),
    ("true -> false", re.compile(r"\btrue\b"), "false"),
    ("false -> true", re.compile(r"\bfalse\b"), "true"),
    ("! dropped", re.compile(r"(?<=[( ])!(?=[A-Za-z_(])"), ""),
]

CALL_STATEMENT = re.compile(r"^(\s*)([A-Za-z_][\w:]*(?:(?:\.|->)[A-Za-z_]\w*)*)\s*\((.*)\);\s*$")
SKIP_LINE = re.compile(r"^\s*(#|//|/\*|\*|static_assert|case\b|return\b|default:)")


def strip_strings(line):
    """The line with string and character literals blanked, so operators
    inside them are never mutated."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
            out.append(" " if c != quote else c)
        else:
            if c in "\"'":
                quote = c
            if line.startswith("//", i):
                out.append(" " * (len(line) - i))
                break
            out.append(c)
        i += 1
    return "".join(out)


def candidates(tree):
    result = []
    files = subprocess.run(["git", "ls-files", f"{tree}/*.cpp", f"{tree}/**/*.cpp"], cwd=ROOT,
                           capture_output=True, text=True, check=True).stdout.split()
    for rel in sorted(set(files)):
        lines = (ROOT / rel).read_text(encoding="utf-8", errors="replace").split("\n")
        in_block = False
        for n, line in enumerate(lines, 1):
            s = line.strip()
            if in_block:
                in_block = "*/" not in s
                continue
            if s.startswith("/*") and "*/" not in s:
                in_block = True
                continue
            if not s or SKIP_LINE.match(line):
                continue
            masked = strip_strings(line)
            for name, pat, repl in OPERATORS:
                for m in pat.finditer(masked):
                    faulty = line[:m.start()] + repl + line[m.end():]
                    result.append((rel, n, name, line, faulty))
            m = CALL_STATEMENT.match(line)
            if m and masked.count("(") == masked.count(")") and not m.group(2) in ("if", "while", "for", "switch"):
                result.append((rel, n, "call dropped", line, m.group(1) + "(void)0;"))
    return result


WIN32_IF = re.compile(r"^\s*#\s*(?:ifdef\s+_WIN32\b|if\s+defined\s*\(?\s*_WIN32\b)")
WIN32_IFNOT = re.compile(r"^\s*#\s*(?:ifndef\s+_WIN32\b|if\s+!\s*defined\s*\(?\s*_WIN32\b)")


def windows_only(lines, n):
    """Whether line n (1-based) is compiled only for Windows: inside the
    `_WIN32` branch of a conditional. The Linux build and its tests never see
    such a line, so a fault there is counted apart instead of as a survivor."""
    stack = []  # per open conditional: True while in a branch only Windows compiles
    for line in lines[:n - 1]:
        if WIN32_IF.match(line):
            stack.append(True)
        elif WIN32_IFNOT.match(line):
            stack.append(False)
        elif re.match(r"^\s*#\s*if", line):
            stack.append(None)
        elif re.match(r"^\s*#\s*else\b", line) and stack:
            stack[-1] = None if stack[-1] is None else not stack[-1]
        elif re.match(r"^\s*#\s*elif\b", line) and stack:
            stack[-1] = None
        elif re.match(r"^\s*#\s*endif\b", line) and stack:
            stack.pop()
    return any(stack)


def shown(name, line, faulty):
    return ("dropped: " + line.strip()) if name == "call dropped" else faulty.strip()


def load_accepted():
    accepted = {}
    if ACCEPTED.exists():
        for raw in ACCEPTED.read_text().splitlines():
            if not raw.strip() or raw.startswith("#"):
                continue
            parts = [p.strip() for p in raw.split(" | ")]
            if len(parts) >= 4:
                accepted[(parts[0], parts[1], parts[2])] = " | ".join(parts[3:])
    return accepted


def run(cmd, cwd, timeout):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           timeout=timeout)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        return -1, "timeout"


def prepare(work, jobs):
    tree = work / "tree"
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    tracked = set(filter(None, files.decode().split("\0")))
    for rel in tracked:
        src, dst = ROOT / rel, tree / rel
        if not src.is_file():
            continue
        if not dst.exists() or dst.read_bytes() != src.read_bytes():
            dst.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(src, dst)  # a new time, so that make rebuilds what depends on it
            shutil.copymode(src, dst)
    build = tree / "build"
    # Files an earlier copy had that the repository no longer tracks would
    # still be globbed into the build.
    if tree.is_dir():
        for p in tree.rglob("*"):
            if p.is_file() and build not in p.parents and p.relative_to(tree).as_posix() not in tracked:
                p.unlink()
    configure = ["cmake", "-S", str(tree), "-B", str(build), "-DCMAKE_BUILD_TYPE=None",
                 "-DCMAKE_CXX_FLAGS=-O1 -g0", "-DCMAKE_C_FLAGS=-O1 -g0"]
    if shutil.which("ld.lld"):
        configure += ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld", "-DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld"]
    code, out = run(configure, tree, 600)
    if code != 0:
        sys.exit("mutants: configure failed\n" + out[-3000:])
    code, out = run(["cmake", "--build", str(build), "-j", str(jobs)], tree, 7200)
    if code != 0:
        sys.exit("mutants: the unchanged tree does not build\n" + out[-3000:])
    code, out = run(["ctest", "--test-dir", str(build), "-j", str(jobs), "--timeout", "300"], tree, 3600)
    if code != 0:
        sys.exit("mutants: the unchanged tree fails its tests\n" + out[-3000:])
    return tree, build


# The programs of a build and when each was last written.
def programs(build):
    bindir = build / "bin"
    return {p.name: p.stat().st_mtime_ns for p in bindir.iterdir() if p.is_file()} if bindir.is_dir() else {}


# Test areas (CTest labels) of the test programs `test_<area>`, and the areas
# whose tests start the built programs (they name BIN_DIR).
def areas_to_run(changed, tree):
    areas = {name[len("test_"):] for name in changed if name.startswith("test_")}
    if changed & {"setup", "winsim"}:
        for d in (tree / "tests").iterdir():
            if d.is_dir() and any("BIN_DIR" in f.read_text(errors="replace") for f in d.rglob("*.[ch]*")):
                areas.add(d.name)
    return sorted(areas)


# "123 - Suite.Name (Failed)"; a parameterised test's name is followed by
# "  # GetParam() = ..." before the reason.
FAILED_TEST = re.compile(r"^\s*\d+ - (\S+)(?:\s+#.*?)? \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|Exception|Child aborted)", re.M)


def run_tests(build, tree, jobs, areas, known, exclude=None):
    """Runs the tests of the given areas; returns ctest's exit code (nonzero:
    a test failed) and the names of the tests that failed, which are counted
    in `known` (test name -> faults of this file it killed). The tests that
    killed earlier faults of the same file run first, on their own: most
    faults fail one of them within seconds, and only a fault that passes
    them needs the whole areas. Either way every test of the areas has passed
    before a fault counts as survived, so the order changes the time, not the
    result."""
    base = ["ctest", "--test-dir", str(build), "-j", str(jobs), "--timeout", "120", "--stop-on-failure",
            "-L", "^(" + "|".join(areas) + ")$"] + (["-E", exclude] if exclude else [])
    first = [t for t in sorted(known, key=lambda t: -known[t]) if not (exclude and re.search(exclude, t))][:8]
    code = 0
    if first:
        names = "^(" + "|".join(re.sub(r"([][.*+?^$()|\\])", r"\\\1", t) for t in first) + ")$"
        code, out = run(base + ["-R", names, "--no-tests=ignore"], tree, 1800)
    if code == 0:
        code, out = run(base, tree, 1800)
    failed = FAILED_TEST.findall(out) if code != 0 else []
    for t in failed:
        known[t] = known.get(t, 0) + 1
    return code, failed


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", required=True, help="src, kit or winsim")
    ap.add_argument("-n", type=int, default=20, help="faults to draw")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--work", default=str(ROOT / "build-mutants"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--list", action="store_true", help="print the drawn faults and stop")
    ap.add_argument("--json", help="write the results to this file")
    ap.add_argument("--only", help="run only these of the drawn faults: 1-based numbers and ranges, e.g. 3,7-9")
    ap.add_argument("--files", help="run only drawn faults in files whose path contains one of these "
                                    "comma-separated parts, e.g. registry/,files/api.cpp")
    ap.add_argument("--exclude", help="leave out the tests whose names match this regular expression (ctest -E): "
                                      "what the rate would be without them")
    args = ap.parse_args()

    pool = candidates(args.tree.rstrip("/"))
    if not pool:
        sys.exit(f"mutants: no candidate faults in {args.tree}")
    rng = random.Random(args.seed)
    drawn = rng.sample(pool, min(args.n, len(pool)))
    # The filters keep the draw itself, so the same seed names the same faults.
    numbered = list(enumerate(drawn, 1))
    if args.only:
        keep = set()
        for part in args.only.split(","):
            lo, _, hi = part.partition("-")
            keep.update(range(int(lo), int(hi or lo) + 1))
        numbered = [(i, d) for i, d in numbered if i in keep]
    if args.files:
        parts = [p for p in args.files.split(",") if p]
        numbered = [(i, d) for i, d in numbered if any(p in d[0] for p in parts)]
    if args.list:
        for i, (rel, n, name, line, faulty) in numbered:
            print(f"{i}: {rel}:{n}: {name}: {shown(name, line, faulty)}")
        return 0
    accepted = load_accepted()
    work = Path(args.work).resolve()
    tree, build = prepare(work, args.jobs)

    # Which tests killed earlier faults of each file, kept between runs.
    killers_path = work / "killers.json"
    killers = json.loads(killers_path.read_text()) if killers_path.exists() else {}
    results = []
    started = time.time()
    for i, (rel, n, name, line, faulty) in numbered:
        path = tree / rel
        original = path.read_text(encoding="utf-8", errors="surrogateescape")
        lines = original.split("\n")
        if windows_only(lines, n):
            results.append({"file": rel, "line": n, "fault": name, "original": line.strip(),
                            "faulty": faulty.strip(), "outcome": "windows", "failed": []})
            print(f"[{i}/{len(drawn)}] windows  {rel}:{n}: {name}: {shown(name, line, faulty)}", flush=True)
            continue
        lines[n - 1] = faulty
        path.write_text("\n".join(lines), encoding="utf-8", errors="surrogateescape")
        try:
            before = programs(build)
            code, out = run(["cmake", "--build", str(build), "-j", str(args.jobs)], tree, 1800)
            failed = []
            if code != 0:
                outcome = "invalid"
            else:
                after = programs(build)
                areas = areas_to_run({n for n, t in after.items() if before.get(n) != t}, tree)
                code = 0
                if areas:
                    code, failed = run_tests(build, tree, args.jobs, areas, killers.setdefault(rel, {}), args.exclude)
                outcome = "killed" if code != 0 else "survived"
        finally:
            path.write_text(original, encoding="utf-8", errors="surrogateescape")
        key = (rel, line.strip(), faulty.strip())
        if outcome == "survived" and key in accepted:
            outcome = "accepted"
        results.append({"file": rel, "line": n, "fault": name, "original": line.strip(),
                        "faulty": faulty.strip(), "outcome": outcome, "failed": failed})
        killers_path.write_text(json.dumps(killers, indent=1, sort_keys=True))
        by = f"  <- {', '.join(failed)}" if failed else ""
        print(f"[{i}/{len(drawn)}] {outcome:8} {rel}:{n}: {name}: {shown(name, line, faulty)}{by}", flush=True)
    # Leave the scratch build matching the tree again.
    run(["cmake", "--build", str(build), "-j", str(args.jobs)], tree, 7200)

    count = {k: sum(1 for r in results if r["outcome"] == k)
             for k in ("killed", "survived", "accepted", "invalid", "windows")}
    judged = count["killed"] + count["survived"]
    rate = 100.0 * count["killed"] / judged if judged else 0.0
    print(f"\n{args.tree}: {len(results)} faults drawn from {len(pool)}, seed {args.seed}: "
          f"{count['killed']} killed, {count['survived']} survived, {count['accepted']} accepted as equivalent, "
          f"{count['invalid']} did not compile, {count['windows']} only in the Windows build; kill rate {rate:.1f}% "
          f"({(time.time() - started) / 60:.0f} min)")
    if count["survived"]:
        print("survivors:")
        for r in results:
            if r["outcome"] == "survived":
                print(f"  {r['file']}:{r['line']}: {r['fault']}: {shown(r['fault'], r['original'], r['faulty'])}")
    if args.json:
        Path(args.json).write_text(json.dumps({"tree": args.tree, "seed": args.seed, "pool": len(pool),
                                               "counts": count, "rate": rate, "results": results}, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
