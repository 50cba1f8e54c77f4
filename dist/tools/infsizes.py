#!/usr/bin/env python3
"""Recomputes field 15 (the size in bytes) of every key of an INF file.

Every key of every section names a file in field 1, looked up in the INF
file's own directory (letter case ignored, as on Windows). Field 15 is set
to that file's size; lines that already carry the right size are left as
they are, byte for byte. The INF syntax is the toolkit's:

    ; comment
    [Section]
    key = field1, field2, "quoted, field", ...

Usage:
    infsizes.py [--check] [INF]      (INF defaults to the setup.inf beside tools/)

Without --check the file is rewritten in place (written aside, then renamed)
when a size changed. With --check nothing is written; every wrong size is
listed and the exit code is 1. Exit code 2: the INF cannot be read, a line
is malformed, or a named file is missing (each message names file and line).
"""
import os
import sys

SIZE_FIELD = 15


class InfError(Exception):
    pass


def scan_item(text, pos, stop):
    """Scans a key or field from pos; returns (value, pos, quoted)."""
    n = len(text)
    while pos < n and text[pos] in " \t":
        pos += 1
    if pos < n and text[pos] == '"':
        pos += 1
        out = []
        while True:
            if pos >= n:
                raise InfError("unterminated quoted text")
            c = text[pos]
            pos += 1
            if c == '"':
                if pos < n and text[pos] == '"':
                    out.append('"')
                    pos += 1
                    continue
                break
            out.append(c)
        while pos < n and text[pos] in " \t":
            pos += 1
        if pos < n and text[pos] not in (stop, ";"):
            raise InfError("unexpected text after a closing quote")
        return "".join(out), pos, True
    start = pos
    while pos < n and text[pos] not in (stop, ";"):
        if text[pos] == '"':
            raise InfError("a quote inside an unquoted field")
        pos += 1
    return text[start:pos].strip(" \t"), pos, False


def parse_key_line(s):
    """Splits a key line into (key text as written, fields, comment)."""
    key, pos, _ = scan_item(s, 0, "=")
    if pos >= len(s) or s[pos] != "=":
        raise InfError("missing '=' after the key")
    if not key:
        raise InfError("empty key")
    key_text = s[:pos].rstrip(" \t")
    pos += 1
    fields = []
    rest = s[pos:].strip(" \t")
    if rest and not rest.startswith(";"):
        while True:
            value, pos, _ = scan_item(s, pos, ",")
            fields.append(value)
            if pos < len(s) and s[pos] == ",":
                pos += 1
                continue
            break
    comment = s[pos:].strip(" \t") if pos < len(s) else ""
    return key, key_text, fields, comment


def quote(field):
    if field == "" or not any(c in field for c in ',;"') and field == field.strip(" \t"):
        return field
    return '"' + field.replace('"', '""') + '"'


def find_file(directory, name, cache):
    """Path of `name` in `directory`, matching letter case loosely."""
    exact = os.path.join(directory, name)
    if os.path.isfile(exact):
        return exact
    if directory not in cache:
        cache[directory] = {e.lower(): e for e in os.listdir(directory)}
    real = cache[directory].get(name.lower())
    if real and os.path.isfile(os.path.join(directory, real)):
        return os.path.join(directory, real)
    return None


def process(path, check):
    """Returns (new text or None when unchanged, list of problems)."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise InfError(f"{path}: cannot be read ({e.strerror})")
    try:
        text = raw.decode("latin-1")
    except UnicodeDecodeError:  # latin-1 decodes every byte; kept for clarity
        raise InfError(f"{path}: cannot be decoded")
    directory = os.path.dirname(os.path.abspath(path))
    newline = "\r\n" if "\r\n" in text else "\n"
    lines = text.split("\n")
    cache = {}
    section = None
    changed = False
    problems = []
    name = os.path.basename(path)
    for i, line in enumerate(lines):
        lineno = i + 1
        cr = line.endswith("\r")
        body = line[:-1] if cr else line
        s = body.strip(" \t")
        if not s or s.startswith(";"):
            continue
        if s.startswith("["):
            close = s.find("]")
            if close < 0:
                raise InfError(f"{name}:{lineno}: section header without ']'")
            section = s[1:close].strip(" \t")
            continue
        if section is None:
            raise InfError(f"{name}:{lineno}: a line outside any section")
        try:
            key, key_text, fields, comment = parse_key_line(body.lstrip(" \t"))
        except InfError as e:
            raise InfError(f"{name}:{lineno}: {e}")
        if not fields or not fields[0]:
            raise InfError(f'{name}:{lineno}: key "{key}" in [{section}] names no file in field 1')
        found = find_file(directory, fields[0], cache)
        if not found:
            raise InfError(f'{name}:{lineno}: file "{fields[0]}" of key "{key}" in [{section}] not found in {directory}')
        size = str(os.path.getsize(found))
        current = fields[SIZE_FIELD - 1] if len(fields) >= SIZE_FIELD else None
        if current == size:
            continue
        problems.append(f"{name}:{lineno}: [{section}] {key}: field {SIZE_FIELD} is "
                        f"{'missing' if current is None else repr(current)}, {fields[0]} has {size} bytes")
        while len(fields) < SIZE_FIELD:
            fields.append("")
        fields[SIZE_FIELD - 1] = size
        indent = body[: len(body) - len(body.lstrip(" \t"))]
        rebuilt = indent + key_text + " = " + ", ".join(quote(f) for f in fields)
        if comment:
            rebuilt += " " + comment
        lines[i] = rebuilt + ("\r" if cr else "")
        changed = True
    if not changed:
        return None, problems
    return "\n".join(lines), problems


def main(argv):
    args = [a for a in argv[1:]]
    check = False
    if "--check" in args:
        check = True
        args.remove("--check")
    if any(a.startswith("-") for a in args) or len(args) > 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = args[0] if args else os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "setup.inf")
    try:
        new_text, problems = process(path, check)
    except InfError as e:
        print(f"infsizes: {e}", file=sys.stderr)
        return 2
    if check:
        for p in problems:
            print(p)
        return 1 if problems else 0
    if new_text is not None:
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(new_text.encode("latin-1"))
        os.replace(tmp, path)
        for p in problems:
            print("fixed " + p)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
