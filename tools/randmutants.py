#!/usr/bin/env python3
"""Draws mutants at random over the production code, for tools/mutate.sh --random.

    tools/randmutants.py --seed S --count N [--files GLOB] [ROOT]

Prints N mutants (fewer when the code offers fewer) in the format of tools/mutants.txt, each
after a line "# @ FILE:LINE [OPERATOR] 'before' -> 'after'" that the report shows. A line is
drawn uniformly among all the lines some operator can change (so every file weighs by its
lines), then one of its changes. The same seed over the same tree gives the same mutants.

The operators work on single lines with regular expressions; they never touch comments,
string or character literals, #include and other preprocessor lines. Some of what they make
does not compile (a `continue` outside a loop, `return {}` for a reference): mutate.sh skips
those and takes the next mutant, which is why the pool printed is larger than the run.
"""

import argparse
import fnmatch
import os
import random
import re
import sys

SOURCE_SUFFIXES = (".cpp", ".h")

# Binary operators are written with a blank on each side throughout the code (clang-format),
# which tells a comparison from a template's angle brackets and `<<` from `<`.
RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
RELATIONAL_RE = re.compile(r"(?<= )(<=|>=|==|!=|<|>)(?= )")
LOGICAL = {"&&": "||", "||": "&&"}
LOGICAL_RE = re.compile(r"(?<= )(&&|\|\|)(?= )")
ARITHMETIC = {"+": "-", "-": "+", "+=": "-=", "-=": "+="}
ARITHMETIC_RE = re.compile(r"(?<= )(\+=|-=|\+|-)(?= )")
INTEGER_RE = re.compile(r"(?<![\w.'])(\d+)([uUlL]*)(?![\w.'])")
JUMP_RE = re.compile(r"\b(break|continue)\s*;")
CONDITION_RE = re.compile(r"\b(if|while)\s*\(")
RETURN_RE = re.compile(r"^(\s*return\s+)(.+);\s*$")
# A whole-line statement that is a call and nothing else: no declaration, no assignment.
CALL_RE = re.compile(r"^(\s*)((?:[A-Za-z_][\w:]*(?:<[\w:, *&]*>)?\s*(?:\.|->)\s*)*[A-Za-z_][\w:]*\s*\(.*\)\s*;)\s*$")
NOT_CALLS = {"return", "if", "while", "for", "switch", "case", "delete", "throw", "sizeof",
             "static_assert", "Q_OBJECT", "Q_DECLARE_METATYPE", "Q_UNUSED", "emit"}
DEFAULTS = {"{}", "0", "false", "nullptr", "QString()", "QByteArray()", "std::nullopt", "0.0"}


def mask_literals(line):
    """The line with the inside of every string and character literal replaced by blanks'
    stand-ins, and a trailing // comment cut off, so that no operator matches in them."""
    out = []
    i, n = 0, len(line)
    while i < n:
        c = line[i]
        if c == "/" and i + 1 < n and line[i + 1] == "/":
            break
        if c in "\"'":
            j = i + 1
            while j < n and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + "\x00" * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def closing_paren(text, start):
    """The index of the parenthesis closing the one at start, or -1 on this line."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def changes(line):
    """Every (operator, new line) a line can become."""
    masked = mask_literals(line)
    stripped = masked.strip()
    if not stripped or stripped.startswith(("#", "/*", "*", "//")) or "R\"" in line or "=>" in line:
        return []
    out = []

    def replace(span, text, op):
        out.append((op, line[:span[0]] + text + line[span[1]:]))

    for m in RELATIONAL_RE.finditer(masked):
        replace(m.span(1), RELATIONAL[m.group(1)], "relational")
    for m in LOGICAL_RE.finditer(masked):
        replace(m.span(1), LOGICAL[m.group(1)], "logical")
    for m in ARITHMETIC_RE.finditer(masked):
        # A blank before a minus sign that follows an operator or an opening: not a subtraction.
        before = masked[:m.start(1)].rstrip()
        if before and before[-1] not in "=(,<>?:[{!&|+-*/%" and not before.endswith("return"):
            replace(m.span(1), ARITHMETIC[m.group(1)], "arithmetic")
    for m in INTEGER_RE.finditer(masked):
        value = int(m.group(1))
        for moved in (value + 1, value - 1):
            if moved >= 0:
                replace(m.span(1), str(moved), "integer")
    for m in JUMP_RE.finditer(masked):
        replace(m.span(1), "continue" if m.group(1) == "break" else "break", "jump")
    for m in CONDITION_RE.finditer(masked):
        open_at = m.end() - 1
        close_at = closing_paren(masked, open_at)
        inner = line[open_at + 1:close_at]
        # A declaration in a condition cannot be negated as it stands: it would not build.
        declares = re.match(r"\s*(const\s|auto\s|[\w:<>]+[\s*&]+\w+\s*=[^=])", inner)
        if close_at > open_at + 1 and "; " not in masked[open_at:close_at] and not declares:
            out.append(("negate", line[:open_at + 1] + "!(" + inner + ")" + line[close_at:]))
    m = RETURN_RE.match(masked)
    if m and line[m.end(1):m.end(2)].strip() not in DEFAULTS:
        out.append(("return-default", line[:m.end(1)] + "{}" + line[m.end(2):]))
    m = CALL_RE.match(masked)
    if m and re.match(r"[A-Za-z_][\w]*", m.group(2)).group(0) not in NOT_CALLS:
        out.append(("delete-call", m.group(1) + "{}"))
    return out


def production_files(root, pattern):
    found = []
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in names:
            path = os.path.relpath(os.path.join(folder, name), root)
            if name.endswith(SOURCE_SUFFIXES) and (not pattern or any(fnmatch.fnmatch(path, p) for p in pattern.split(","))):
                found.append(path)
    return sorted(found)


def candidate_lines(root, files):
    """(file, index, lines) for every line some operator changes; block comments left out."""
    out = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        in_comment = False
        for i, line in enumerate(lines):
            if in_comment:
                if "*/" in line:
                    in_comment = False
                continue
            if line.lstrip().startswith("/*"):
                in_comment = "*/" not in line
                continue
            if changes(line):
                out.append((path, i, lines))
    return out


def unique_search(lines, i, new_line):
    """The search and replacement texts around line i: the line, joined with neighbours
    (by ⏎) until the text occurs once in the file."""
    whole = "\n".join(lines)
    for reach in range(0, 6):
        first, last = max(0, i - reach), min(len(lines), i + reach + 1)
        search = "\n".join(lines[first:last])
        if search.strip() and whole.count(search.strip()) == 1:
            replacement = "\n".join(lines[first:i] + [new_line] + lines[i + 1:last])
            return search.strip().replace("\n", "⏎"), replacement.strip().replace("\n", "⏎")
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, required=True)
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--files", default="", help="globs over paths, separated by commas, such as src/core/*.cpp,src/cli/args.cpp")
    parser.add_argument("root", nargs="?", default=".")
    args = parser.parse_args()

    files = production_files(args.root, args.files)
    pool = candidate_lines(args.root, files)
    if not pool:
        sys.exit("randmutants.py: no line to mutate in " + (args.files or "src/"))
    rng = random.Random(args.seed)
    print(f"# {args.count} random mutants, seed {args.seed}, over {len(files)} files"
          f"{' matching ' + args.files if args.files else ''} ({len(pool)} lines that can change)")
    seen = set()
    made = 0
    for _ in range(args.count * 20):
        if made == args.count:
            break
        path, i, lines = rng.choice(pool)
        op, new_line = rng.choice(changes(lines[i]))
        if (path, i, new_line) in seen:
            continue
        seen.add((path, i, new_line))
        texts = unique_search(lines, i, new_line)
        if not texts or texts[0] == texts[1] or " | " in texts[0].split(" => ")[0] or " => " in texts[0]:
            continue
        print(f"# @ {path}:{i + 1} [{op}] '{lines[i].strip()}' -> '{new_line.strip()}'")
        print(f"{path} | * | {texts[0]} => {texts[1]}")
        made += 1


if __name__ == "__main__":
    main()
