#!/usr/bin/python3
"""Mutation testing of the code that is built natively (the pure sources of
src/, PREREQ_PURE_SOURCES in src/**/sources.cmake).

Each mutant is one small fault put into one source file: a relational
operator swapped (< and <=, > and >=, == and !=), an integer literal changed
by one, true and false or && and || flipped, one statement deleted (a
return, continue, break or assignment), find and rfind swapped, or a
character-case fold dropped. Comments, string and character literals,
preprocessor lines and static_asserts are never touched.

The tests are the native ones: the unit tests (tests/unit/pure), then
prereq-lint's golden tests and the guide's table check. For each mutant the
tool writes it into a private copy of the tree (build/mutate/wN/tree; the
working tree is never written), rebuilds that file, the library and the
tests (build/mutate/wN/build, Ninja, -O0 without sanitizers but with the
standard library's bounds checks) and runs them, the suites that include
the mutated file's header first, each run stopping at its first failure
and under a time limit. A mutant is

    killed    when a test fails, crashes or runs out of time;
    survived  when every test passes;
    invalid   when it does not compile (a mutant that lets a function fall
              off its end or reads a variable it left unset counts here);
    equivalent when it survived and scripts/mutate-equivalent.txt lists it.

The score is killed / (killed + survived), invalid and equivalent mutants
left out. Survivors are printed as FILE:LINE: CHANGE | LINE TEXT and the
score comes last; the exit status is 1 when the score is below --min.

When there are more mutants than --count, a fixed sample is taken: each
mutant's rank is a hash of the seed and of the mutant's text (not of its
line number), so a sample stays the same while other code changes.

Settings (options, or the environment of make mutate):
    --seed N         MUTATE_SEED     sample seed (default 1)
    --count N        MUTATE_COUNT    mutants to run (default 500; 0 = all)
    --files A,B      MUTATE_FILES    only sources whose path contains A or B
    --kinds A,B      MUTATE_KINDS    only these kinds (rel lit bool logic del find fold)
    --jobs N         MUTATE_JOBS     workers (default: number of cores)
    --timeout S      MUTATE_TIMEOUT  seconds per test run (default: 4 x the
                                     clean run of the suites run, + 5 s)
    --min P          MUTATE_MIN      score below which the run fails (90)
    --rerun FILE                     only the survivors recorded in FILE (a
                                     last-run.txt), e.g. after adding tests
    --work DIR                       folder of the copies (build/mutate)
    --list                           print the mutants and their counts, run nothing
    --stale                          print equivalence entries that match no mutant
"""

from __future__ import annotations

import argparse
import bisect
import fcntl
import hashlib
import json
import os
import resource
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
EQUIVALENT_FILE = REPO / "scripts" / "mutate-equivalent.txt"
WORK = REPO / "build" / "mutate"
KINDS = ("rel", "lit", "bool", "logic", "del", "find", "fold")

# Flags of the mutants' build: fast to compile, bounds-checked containers
# (an index pushed past the end aborts instead of reading on), and a
# function that falls off its end or a variable read before it is set makes
# the mutant invalid rather than undefined.
BUILD_FLAGS = "-O0 -D_GLIBCXX_ASSERTIONS -Werror=return-type -Werror=uninitialized"


# --- Reading C++ --------------------------------------------------------------

@dataclass
class Token:
    kind: str  # "id", "num", "op", "str"
    text: str
    start: int
    end: int
    frozen: bool = False  # inside a static_assert or an operator name


OPERATORS = sorted(
    ["<<=", ">>=", "<=>", "->*", "...", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=",
     "&&", "||", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", ".*", "##"],
    key=len, reverse=True)
STRING_PREFIXES = {"L", "u", "U", "u8", "R", "LR", "uR", "UR", "u8R"}


def tokenize(text: str) -> list[Token]:
    """The tokens of a C++ source without comments and preprocessor lines;
    string and character literals become single "str" tokens."""
    tokens: list[Token] = []
    i, n = 0, len(text)
    line_start = True  # only blanks since the last line end
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "#" and line_start:
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    i += 1
                i += 1
            continue
        line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            continue
        if c.isalpha() or c == "_":
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            word = text[i:j]
            if j < n and text[j] in "\"'" and word in STRING_PREFIXES:
                end = skip_literal(text, j, raw=word.endswith("R"))
                tokens.append(Token("str", text[i:end], i, end))
                i = end
                continue
            tokens.append(Token("id", word, i, j))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            j = i + 1
            while j < n:
                d = text[j]
                if d.isalnum() or d in "_.":
                    j += 1
                elif d == "'" and j + 1 < n and text[j + 1].isalnum():
                    j += 1
                elif d in "+-" and text[j - 1] in "eEpP" and not text[i:j].lower().startswith("0x"):
                    j += 1
                else:
                    break
            tokens.append(Token("num", text[i:j], i, j))
            i = j
            continue
        if c in "\"'":
            end = skip_literal(text, i, raw=False)
            tokens.append(Token("str", text[i:end], i, end))
            i = end
            continue
        for op in OPERATORS:
            if text.startswith(op, i):
                break
        else:
            op = c
        tokens.append(Token("op", op, i, i + len(op)))
        i += len(op)
    freeze(tokens)
    return tokens


def skip_literal(text: str, i: int, raw: bool) -> int:
    """The end of the string or character literal whose quote is at i."""
    quote = text[i]
    if raw and quote == '"':
        open_paren = text.find("(", i)
        delim = text[i + 1:open_paren]
        end = text.find(")" + delim + '"', open_paren)
        return len(text) if end < 0 else end + len(delim) + 2
    j = i + 1
    while j < len(text) and text[j] != quote and text[j] != "\n":
        j += 2 if text[j] == "\\" else 1
    return min(j + 1, len(text))


def freeze(tokens: list[Token]) -> None:
    """Marks what no mutant may touch: static_asserts (they only refuse to
    compile) and the operator of an operator function's name."""
    for k, t in enumerate(tokens):
        if t.kind == "id" and t.text == "static_assert":
            depth = 0
            for u in tokens[k + 1:]:
                u.frozen = True
                if u.text == "(":
                    depth += 1
                elif u.text == ")":
                    depth -= 1
                    if depth == 0:
                        break
        elif t.kind == "id" and t.text == "operator" and k + 1 < len(tokens):
            tokens[k + 1].frozen = True


# --- Making mutants ---------------------------------------------------------------

@dataclass
class Mutant:
    file: str  # path relative to the repository
    kind: str
    start: int  # span of the original text that is replaced
    end: int
    replacement: str
    change: str  # what is done, e.g. "< -> <="
    line: int = 0
    line_text: str = ""  # the first line of the span, blanks collapsed
    key: str = ""  # FILE: CHANGE | LINE TEXT, what the equivalence list names
    outcome: str = ""
    detail: str = ""
    seconds: float = 0.0  # build and tests of this mutant

    def apply(self, text: str) -> str:
        return text[:self.start] + self.replacement + text[self.end:]


SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
         "&&": "||", "||": "&&", "true": "false", "false": "true",
         "find": "rfind", "rfind": "find", "find_first_of": "find_last_of",
         "find_last_of": "find_first_of", "find_first_not_of": "find_last_not_of",
         "find_last_not_of": "find_first_not_of"}
INTEGER = re.compile(r"^(0[xX][0-9a-fA-F]+|0[bB][01]+|0[0-7]*|[1-9][0-9]*)([uUlLzZ]*)$")
# towlower(c), LowerAscii(c), AsciiLower(c), FoldAscii(c), ToUpper(s), ...
FOLD_CALL = re.compile(r"^(tow?(lower|upper)|(\w*[a-z])?(Lower|Upper|Fold)([A-Z]\w*)?)$")
NOCASE_CALL = re.compile(r"^(Equals|StartsWith|EndsWith)\w*NoCase$")
STATEMENT_START = {";", "{", "}", ")", "else", ":", "do"}
ASSIGN_OPS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
# Words that begin a declaration or another statement, never an assignment.
NOT_LVALUE = {"return", "const", "constexpr", "static", "auto", "using", "typedef", "case",
              "default", "goto", "throw", "delete", "new", "co_return", "if", "for", "while",
              "switch", "do", "else", "struct", "class", "enum", "template", "namespace",
              "inline", "extern", "volatile", "unsigned", "signed", "thread_local", "friend"}


def spaced(text: str, t: Token) -> bool:
    """Blanks on both sides: a binary operator as the code is formatted,
    not the angle bracket of a template."""
    return t.start > 0 and text[t.start - 1] in " \t\n" and t.end < len(text) and text[t.end] in " \t\n"


def closing(tokens: list[Token], k: int) -> int:
    """Index of the bracket that closes the one at tokens[k]."""
    pairs = {"(": ")", "[": "]", "{": "}"}
    want = pairs[tokens[k].text]
    depth = 0
    for j in range(k, len(tokens)):
        if tokens[j].text == tokens[k].text:
            depth += 1
        elif tokens[j].text == want:
            depth -= 1
            if depth == 0:
                return j
    return len(tokens) - 1


def statement_end(tokens: list[Token], k: int) -> int:
    """Index of the ";" that ends the statement beginning at tokens[k], or -1."""
    j = k
    while j < len(tokens):
        t = tokens[j].text
        if t in "([{":
            j = closing(tokens, j) + 1
            continue
        if t == ";":
            return j
        if t in ")]}":
            return -1
        j += 1
    return -1


def is_lvalue(tokens: list[Token]) -> bool:
    """Whether the tokens before an assignment operator name something to
    assign to (a, *p, a.b[i]->c, f().x) rather than declare a variable."""
    if not tokens:
        return False
    k = 0
    if tokens[0].text == "*":
        k = 1
    if k >= len(tokens) or tokens[k].kind != "id" or tokens[k].text in NOT_LVALUE:
        return False
    k += 1
    while k < len(tokens):
        t = tokens[k]
        if t.text in (".", "->", "::") and k + 1 < len(tokens) and tokens[k + 1].kind == "id":
            k += 2
        elif t.text in ("[", "("):
            k = closing(tokens, k) + 1
        else:
            return False
    return True


def statement_deletions(path: str, text: str, tokens: list[Token]) -> list[Mutant]:
    out = []
    for k, t in enumerate(tokens):
        if t.frozen or (k > 0 and tokens[k - 1].text not in STATEMENT_START):
            continue
        if k > 0 and tokens[k - 1].text == ":" and k > 1 and tokens[k - 2].text in ("public", "private", "protected"):
            continue
        end = -1
        if t.kind == "id" and t.text in ("return", "break", "continue"):
            end = statement_end(tokens, k)
        elif t.text in ("++", "--") or t.kind == "id" or t.text == "*":
            end = statement_end(tokens, k)
            if end < 0:
                continue
            body = tokens[k:end]
            if body[0].text in ("++", "--"):
                ok = is_lvalue(body[1:])
            elif body[-1].text in ("++", "--"):
                ok = is_lvalue(body[:-1])
            else:
                ok = False
                for m, u in enumerate(body):
                    if u.text in "([{":
                        break  # only a plain left side before the operator
                    if u.kind == "op" and u.text in ASSIGN_OPS:
                        ok = is_lvalue(body[:m])
                        break
                if not ok:
                    # a[i] = x and f(a).b = x: brackets on the left side
                    depth = 0
                    for m, u in enumerate(body):
                        if u.text == "{" and depth == 0:
                            break  # a left side holds no braces
                        if u.text in "([{":
                            depth += 1
                        elif u.text in ")]}":
                            depth -= 1
                        elif depth == 0 and u.kind == "op" and u.text in ASSIGN_OPS:
                            ok = is_lvalue(body[:m])
                            break
            if not ok:
                continue
        if end < 0 or any(u.frozen for u in tokens[k:end + 1]):
            continue
        statement = " ".join(text[t.start:tokens[end].end].split())
        out.append(Mutant(path, "del", t.start, tokens[end].end, "{}", f"delete {statement}"))
    return out


def fold_drops(path: str, text: str, tokens: list[Token]) -> list[Mutant]:
    out = []
    for k, t in enumerate(tokens):
        if t.kind != "id" or t.frozen or k + 1 >= len(tokens) or tokens[k + 1].text != "(":
            continue
        name = t.text
        start = t.start
        if k >= 2 and tokens[k - 1].text == "::" and tokens[k - 2].text == "std":
            start = tokens[k - 2].start
        elif k >= 1 and tokens[k - 1].text in ("::", ".", "->"):
            continue
        close = closing(tokens, k + 1)
        if close + 1 < len(tokens) and tokens[close + 1].text in ("{", "const", "noexcept", ";"):
            if k >= 1 and tokens[k - 1].kind == "id" and tokens[k - 1].text != "return":
                continue  # a declaration or definition of the function
        args = split_arguments(tokens, k + 1, close)
        inner = [text[tokens[a].start:tokens[b - 1].end] for a, b in args if b > a]
        if FOLD_CALL.match(name) and len(inner) == 1:
            out.append(Mutant(path, "fold", start, tokens[close].end, f"({inner[0]})", f"drop {name}()"))
        elif NOCASE_CALL.match(name) and len(inner) == 2:
            a, b = inner
            op = {"Equals": "==", "StartsWith": ".starts_with", "EndsWith": ".ends_with"}
            verb = re.match(r"Equals|StartsWith|EndsWith", name).group(0)
            if verb == "Equals":
                repl = f"(std::wstring_view({a}) == std::wstring_view({b}))"
            else:
                repl = f"std::wstring_view({a}){op[verb]}(std::wstring_view({b}))"
            out.append(Mutant(path, "fold", start, tokens[close].end, repl, f"drop {name}() case fold"))
    return out


def split_arguments(tokens: list[Token], open_k: int, close_k: int) -> list[tuple[int, int]]:
    args, depth, begin = [], 0, open_k + 1
    for j in range(open_k + 1, close_k):
        t = tokens[j].text
        if t in "([{":
            depth += 1
        elif t in ")]}":
            depth -= 1
        elif t == "," and depth == 0:
            args.append((begin, j))
            begin = j + 1
    args.append((begin, close_k))
    return args


def integer_mutants(path: str, t: Token) -> list[Mutant]:
    m = INTEGER.match(t.text.replace("'", ""))
    if not m:
        return []
    digits, suffix = m.groups()
    if digits[:2].lower() == "0x":
        value, fmt = int(digits, 16), (lambda v: digits[:2] + format(v, "X" if any(ch.isupper() for ch in digits[2:]) else "x"))
    elif digits[:2].lower() == "0b":
        value, fmt = int(digits, 2), (lambda v: digits[:2] + format(v, "b"))
    elif len(digits) > 1 and digits[0] == "0":
        value, fmt = int(digits, 8), (lambda v: "0" + format(v, "o"))
    else:
        value, fmt = int(digits), str
    out = []
    for v in (value + 1, value - 1):
        if v < 0:
            continue
        new = fmt(v) + suffix
        out.append(Mutant(path, "lit", t.start, t.end, new, f"{t.text} -> {new}"))
    return out


TABLE_ROW = re.compile(r"^[ \t]*\{[^{}\n]*\},?[ \t]*(//.*)?$")


def in_table_row(text: str, t: Token) -> bool:
    """Whether t stands in a row of a lookup table, a line that holds one
    braced entry ("{1033, L"en-US", ...},"). Such a number is a fact of the
    table, checked against its source, not a limit of the code."""
    begin = text.rfind("\n", 0, t.start) + 1
    end = text.find("\n", t.end)
    return bool(TABLE_ROW.match(text[begin:None if end < 0 else end]))


def mutants_of(path: str, text: str) -> list[Mutant]:
    tokens = tokenize(text)
    out: list[Mutant] = []
    for k, t in enumerate(tokens):
        if t.frozen:
            continue
        prev = tokens[k - 1].text if k else ""
        if t.kind == "op" and t.text in ("<", ">", "&&", "||"):
            if spaced(text, t) and prev not in ("template", "operator"):
                kind = "rel" if t.text in "<>" else "logic"
                out.append(Mutant(path, kind, t.start, t.end, SWAPS[t.text], f"{t.text} -> {SWAPS[t.text]}"))
        elif t.kind == "op" and t.text in ("<=", ">=", "==", "!="):
            out.append(Mutant(path, "rel", t.start, t.end, SWAPS[t.text], f"{t.text} -> {SWAPS[t.text]}"))
        elif t.kind == "id" and t.text in ("true", "false"):
            out.append(Mutant(path, "bool", t.start, t.end, SWAPS[t.text], f"{t.text} -> {SWAPS[t.text]}"))
        elif (t.kind == "id" and t.text.startswith(("find", "rfind")) and t.text in SWAPS
              and prev in (".", "->") and k + 1 < len(tokens) and tokens[k + 1].text == "("):
            out.append(Mutant(path, "find", t.start, t.end, SWAPS[t.text], f"{t.text} -> {SWAPS[t.text]}"))
        elif t.kind == "num" and not in_table_row(text, t):
            out.extend(integer_mutants(path, t))
    out.extend(statement_deletions(path, text, tokens))
    out.extend(fold_drops(path, text, tokens))
    describe(text, out)
    return out


def describe(text: str, mutants: list[Mutant]) -> None:
    """Fills in line, line text and key. The same change on the same text
    twice in a file (twice on one line, or on two equal lines) is told apart
    by "#2", "#3", ... in order of position."""
    line_starts = [0] + [i + 1 for i, c in enumerate(text) if c == "\n"]
    seen: dict[tuple[str, str], int] = {}
    for m in sorted(mutants, key=lambda m: (m.start, m.end)):
        index = bisect.bisect_right(line_starts, m.start) - 1
        m.line = index + 1
        end = text.find("\n", line_starts[index])
        m.line_text = " ".join(text[line_starts[index]:None if end < 0 else end].split())
        count = seen.get((m.line_text, m.change), 0) + 1
        seen[(m.line_text, m.change)] = count
        change = m.change if count == 1 else f"{m.change} #{count}"
        m.change = change
        m.key = f"{m.file}: {change} | {m.line_text}"


def pure_sources() -> list[str]:
    """PREREQ_PURE_SOURCES, as paths relative to the repository."""
    out = []
    for cmake in sorted((REPO / "src").rglob("sources.cmake")):
        text = cmake.read_text(encoding="utf-8")
        for block in re.findall(r"list\(APPEND PREREQ_PURE_SOURCES(.*?)\)", text, re.S):
            for name in re.findall(r"\$\{CMAKE_CURRENT_LIST_DIR\}/(\S+\.cpp)", block):
                out.append(str((cmake.parent / name).relative_to(REPO)))
    return out


# --- The equivalence list -------------------------------------------------------------

def normalize_key(key: str) -> str:
    return " ".join(key.split())


def read_equivalents() -> dict[str, str]:
    """Key -> reason. An entry is a line "FILE: CHANGE | LINE TEXT" (a
    survivor's line without its line number); the indented lines below it
    give the reason."""
    entries: dict[str, str] = {}
    if not EQUIVALENT_FILE.exists():
        return entries
    key = None
    for raw in EQUIVALENT_FILE.read_text(encoding="utf-8").splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        if raw[0] in " \t":
            if key is not None:
                entries[key] = (entries[key] + " " + raw.strip()).strip()
            continue
        key = normalize_key(raw)
        entries[key] = ""
    return entries


# --- Running them ---------------------------------------------------------------------

class Interrupted(Exception):
    pass


STOP = threading.Event()
RUNNING: set[subprocess.Popen] = set()
RUNNING_LOCK = threading.Lock()


def run(cmd, cwd=None, timeout=None, env=None) -> tuple[str, str]:
    """Runs cmd in a process group of its own (a time-out or an interrupt
    ends the whole group); answers ("ok"|"fail"|"timeout", output)."""
    with RUNNING_LOCK:
        if STOP.is_set():
            raise Interrupted()
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True, text=True,
                                errors="replace")
        RUNNING.add(proc)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill_group(proc)
        out, _ = proc.communicate()
        return "timeout", out
    except BaseException:
        kill_group(proc)
        proc.wait()
        raise
    finally:
        with RUNNING_LOCK:
            RUNNING.discard(proc)
    return ("ok" if proc.returncode == 0 else "fail"), out


def kill_group(proc: subprocess.Popen) -> None:
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def stop_all() -> None:
    """Ends every process group this run started."""
    with RUNNING_LOCK:
        STOP.set()
        for proc in RUNNING:
            kill_group(proc)


def sync_tree(tree: Path) -> None:
    """Makes tree a copy of the working tree (without build/ and .git).
    A file whose content changed gets the current time, so that the build
    compiles it again."""
    skip = {"build", ".git", "__pycache__"}
    wanted = set()
    for root, dirs, files in os.walk(REPO):
        dirs[:] = [d for d in dirs if d not in skip and not (root == str(REPO) and d.startswith("."))]
        rel_root = Path(root).relative_to(REPO)
        for name in files:
            rel = rel_root / name
            wanted.add(rel)
            src, dst = REPO / rel, tree / rel
            data = src.read_bytes()
            if dst.exists() and dst.read_bytes() == data:
                continue
            dst.parent.mkdir(parents=True, exist_ok=True)
            dst.write_bytes(data)
            shutil.copymode(src, dst)
    for root, dirs, files in os.walk(tree):
        for name in files:
            rel = Path(root).relative_to(tree) / name
            if rel not in wanted:
                (tree / rel).unlink()


def test_suites(tree: Path) -> dict[str, set[str]]:
    """Header (e.g. "evaluation/Versions.h") -> the GoogleTest suites of
    the test files that include it."""
    out: dict[str, set[str]] = {}
    for test in sorted((tree / "tests" / "unit" / "pure").glob("*.cpp")):
        text = test.read_text(encoding="utf-8")
        suites = set(re.findall(r"^\s*TEST(?:_F|_P)?\(\s*(\w+)\s*,", text, re.M))
        for header in re.findall(r'^\s*#include\s+"([^"]+\.h)"', text, re.M):
            out.setdefault(header, set()).update(suites)
    return out


class Worker:
    def __init__(self, work: Path, index: int, timeout: float | None):
        self.index = index
        self.root = work / f"w{index}"
        self.tree = self.root / "tree"
        self.build = self.root / "build"
        self.timeout = timeout  # seconds per test run; None: from the clean run
        self.clean_seconds: dict[str, float] = {}  # suite or other test -> seconds of the clean run
        self.objects: dict[str, Path] = {}
        self.suites: dict[str, set[str]] = {}
        self.all_suites: set[str] = set()
        self.current: str | None = None  # file that holds a mutant now
        self.saved: tuple[bytes, int, Path, Path] | None = None

    def env(self, mutant: bool = True) -> dict[str, str]:
        env = dict(os.environ)
        if mutant:
            env["CCACHE_READONLY"] = "1"  # mutants never go into a compiler cache
        for name in [n for n in env if n.startswith("GTEST_")]:
            del env[name]
        return env

    def make(self, *targets: str) -> list[str]:
        return ["cmake", "--build", str(self.build), "--target", *targets]

    def prepare(self) -> float:
        """Copies the tree, builds it and runs every test once, keeping the
        time of each suite. Answers the time of that clean run; raises when
        it fails."""
        self.tree.mkdir(parents=True, exist_ok=True)
        sync_tree(self.tree)
        if not (self.build / "CMakeCache.txt").exists():
            generator = "Ninja" if shutil.which("ninja") else "Unix Makefiles"
            status, out = run(["cmake", "-S", str(self.tree), "-B", str(self.build), "-G", generator,
                               "-DCMAKE_BUILD_TYPE=Mutate", f"-DCMAKE_CXX_FLAGS={BUILD_FLAGS}",
                               "-DPREREQ_SANITIZE=OFF", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"],
                              env=self.env(mutant=False))
            if status != "ok":
                raise RuntimeError(f"configure of {self.build} failed:\n{out}")
        status, out = run(self.make("prereq_pure_tests", "prereq-lint"),
                          env=self.env(mutant=False))
        if status != "ok":
            raise RuntimeError(f"build of the unchanged tree failed:\n{out[-4000:]}")
        for entry in json.loads((self.build / "compile_commands.json").read_text(encoding="utf-8")):
            src = Path(entry["file"])
            if src.is_relative_to(self.tree) and "/prereqpure.dir/" in entry.get("output", entry["command"]):
                output = entry.get("output") or re.search(r"-o (\S+)", entry["command"]).group(1)
                self.objects[str(src.relative_to(self.tree))] = Path(entry["directory"]) / output
        self.suites = test_suites(self.tree)
        for s in self.suites.values():
            self.all_suites |= s
        started = time.monotonic()
        report = self.build / "clean-run.json"
        status, out = run([str(self.build / "prereq_pure_tests"), "--gtest_brief=1",
                           f"--gtest_output=json:{report}"], cwd=str(self.build), timeout=1800, env=self.env())
        if status != "ok":
            raise RuntimeError(f"the unchanged tree fails its unit tests:\n{out[-4000:]}")
        for suite in json.loads(report.read_text(encoding="utf-8")).get("testsuites", []):
            self.clean_seconds[suite["name"]] = float(str(suite.get("time", "0s")).rstrip("s") or 0)
        for name, cmd in self.other_tests():
            began = time.monotonic()
            status, out = run(cmd, timeout=1800, env=self.env())
            if status != "ok":
                raise RuntimeError(f"the unchanged tree fails its {name} test:\n{out[-4000:]}")
            self.clean_seconds[name] = time.monotonic() - began
        return time.monotonic() - started

    def other_tests(self) -> list[tuple[str, list[str]]]:
        lint = str(self.build / "prereq-lint")
        return [("lint golden", [sys.executable, str(self.tree / "tests/lint/golden.py"), "--lint", lint]),
                ("doc tables", [sys.executable, str(self.tree / "scripts/doc-tables.py"), "--check",
                                "--lint", lint])]

    def limit(self, names) -> float:
        """The time limit of a run of these suites or tests: four times their
        clean run and 5 s for starting (--timeout overrides it)."""
        if self.timeout:
            return self.timeout
        return 4 * sum(self.clean_seconds.get(n, 0.0) for n in names) + 5

    def focus(self, path: str | None) -> set[str]:
        if path is None:
            return set()
        header = str(Path(path).with_suffix(".h").relative_to("src"))
        return self.suites.get(header, set())

    def test(self, path: str) -> tuple[str, str]:
        """Runs the tests against what is built, those of the file first;
        answers (outcome, detail)."""
        binary = str(self.build / "prereq_pure_tests")
        focus = sorted(self.focus(path))
        rest = sorted(self.all_suites - set(focus))
        runs = []
        if focus:
            runs.append(("unit tests of the file", focus, [
                binary, "--gtest_brief=1", "--gtest_fail_fast=1", "--gtest_filter=" + ":".join(s + ".*" for s in focus)]))
        if rest:
            runs.append(("other unit tests", rest, [binary, "--gtest_brief=1", "--gtest_fail_fast=1"] +
                         ([f"--gtest_filter=-{':'.join(s + '.*' for s in focus)}"] if focus else [])))
        for name, suites, cmd in runs:
            status, out = run(cmd, cwd=str(self.build), timeout=self.limit(suites), env=self.env())
            if STOP.is_set():
                raise Interrupted()
            if status != "ok":
                return ("killed" if status == "fail" else "timeout"), f"{name}: {last_failure(out)}"
        status, out = run(self.make("prereq-lint"), env=self.env())
        if status != "ok":
            return "invalid", "prereq-lint does not link: " + first_error(out)
        for name, cmd in self.other_tests():
            status, out = run(cmd, timeout=self.limit([name]), env=self.env())
            if STOP.is_set():
                raise Interrupted()
            if status != "ok":
                return ("killed" if status == "fail" else "timeout"), f"{name}: {last_failure(out)}"
        return "survived", ""

    def enter(self, path: str) -> None:
        """Keeps what restoring `path` needs: its text, time and object."""
        if self.current == path:
            return
        self.leave()
        src = self.tree / path
        obj = self.objects[path]
        backup = obj.with_suffix(obj.suffix + ".clean")
        shutil.copy2(obj, backup)
        self.saved = (src.read_bytes(), src.stat().st_mtime_ns, obj, backup)
        self.current = path

    def leave(self) -> None:
        """Puts the file, its time and its object back as they were, and
        removes the library so that the next build archives it again."""
        if self.current is None:
            return
        data, mtime, obj, backup = self.saved
        src = self.tree / self.current
        src.write_bytes(data)
        os.utime(src, ns=(mtime, mtime))
        shutil.copy2(backup, obj)
        backup.unlink()
        (self.build / "libprereqpure.a").unlink(missing_ok=True)
        self.current, self.saved = None, None

    def try_mutant(self, m: Mutant) -> None:
        self.enter(m.file)
        original = self.saved[0].decode("utf-8")
        src = self.tree / m.file
        src.write_bytes(m.apply(original).encode("utf-8"))
        status, out = run(self.make("prereq_pure_tests"), env=self.env())
        if STOP.is_set():
            raise Interrupted()
        if status != "ok":
            m.outcome, m.detail = "invalid", first_error(out)
            return
        m.outcome, m.detail = self.test(m.file)


def last_failure(out: str) -> str:
    lines = [l for l in out.splitlines() if "Failure" in l or "FAILED" in l or "problem" in l]
    return (lines[0] if lines else out.strip().splitlines()[-1] if out.strip() else "").strip()[:200]


def first_error(out: str) -> str:
    for l in out.splitlines():
        if "error:" in l or "Error" in l:
            return l.strip()[:200]
    return out.strip()[-200:]


def sample(mutants: list[Mutant], seed: int, count: int) -> list[Mutant]:
    if count <= 0 or count >= len(mutants):
        return list(mutants)

    def rank(m: Mutant) -> str:
        return hashlib.sha256(f"{seed}\0{m.key}".encode()).hexdigest()
    return sorted(mutants, key=rank)[:count]


def fmt_time(seconds: float) -> str:
    seconds = int(seconds)
    return f"{seconds // 60}m{seconds % 60:02d}s"


def main() -> int:
    env = os.environ
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--seed", type=int, default=int(env.get("MUTATE_SEED") or 1))
    p.add_argument("--count", type=int, default=int(env.get("MUTATE_COUNT") or 500))
    p.add_argument("--files", default=env.get("MUTATE_FILES", ""))
    p.add_argument("--kinds", default=env.get("MUTATE_KINDS", ""))
    p.add_argument("--jobs", type=int, default=int(env.get("MUTATE_JOBS") or os.cpu_count() or 1))
    p.add_argument("--timeout", type=float, default=float(env.get("MUTATE_TIMEOUT") or 0))
    p.add_argument("--min", type=float, default=float(env.get("MUTATE_MIN") or 90))
    p.add_argument("--rerun", type=Path)
    p.add_argument("--work", type=Path, default=WORK)
    p.add_argument("--list", action="store_true")
    p.add_argument("--stale", action="store_true")
    args = p.parse_args()

    files = [f for f in pure_sources()
             if not args.files or any(part.strip() and part.strip() in f for part in args.files.split(","))]
    kinds = {k.strip() for k in args.kinds.split(",") if k.strip()} or set(KINDS)
    unknown = kinds - set(KINDS)
    if unknown:
        p.error(f"unknown kinds: {', '.join(sorted(unknown))} (known: {' '.join(KINDS)})")
    every: list[Mutant] = []
    for f in files:
        every.extend(m for m in mutants_of(f, (REPO / f).read_text(encoding="utf-8")) if m.kind in kinds)
    equivalents = read_equivalents()

    if args.stale:
        keys = {normalize_key(m.key) for f in pure_sources() for m in mutants_of(f, (REPO / f).read_text(encoding="utf-8"))}
        stale = [k for k in equivalents if k not in keys]
        for k in stale:
            print(k)
        missing = [k for k, reason in equivalents.items() if not reason]
        for k in missing:
            print(f"no reason given: {k}")
        print(f"{len(stale)} of {len(equivalents)} equivalence entries match no mutant")
        return 1 if stale or missing else 0

    if args.rerun:
        wanted = set()
        for line in args.rerun.read_text(encoding="utf-8").splitlines():
            fields = line.split("\t")
            if len(fields) >= 3 and fields[0] == "survived":
                wanted.add(normalize_key(re.sub(r"^([^:]+):\d+: ", r"\1: ", fields[2])))
        chosen = [m for m in every if normalize_key(m.key) in wanted]
    else:
        chosen = sample(every, args.seed, args.count)
    if args.list:
        for m in sorted(chosen, key=lambda m: (m.file, m.start)):
            print(f"{m.file}:{m.line}: {m.change} | {m.line_text}")
        by_kind: dict[str, int] = {}
        for m in chosen:
            by_kind[m.kind] = by_kind.get(m.kind, 0) + 1
        print(f"{len(chosen)} of {len(every)} mutants in {len(files)} files: "
              + ", ".join(f"{k} {by_kind.get(k, 0)}" for k in KINDS))
        return 0

    started = time.monotonic()
    jobs = max(1, min(args.jobs, len(chosen) or 1))
    print(f"mutate: {len(chosen)} of {len(every)} mutants of {len(files)} files (seed {args.seed}), "
          f"{jobs} workers in {args.work}", flush=True)
    work_dir = args.work.resolve()
    work_dir.mkdir(parents=True, exist_ok=True)
    lock_file = open(work_dir / "lock", "w")
    try:
        fcntl.flock(lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        print(f"mutate: another run uses {work_dir}", file=sys.stderr)
        return 2
    workers = [Worker(work_dir, i, args.timeout or None) for i in range(jobs)]

    def interrupt(signum, frame):
        raise KeyboardInterrupt()
    signal.signal(signal.SIGTERM, interrupt)
    signal.signal(signal.SIGHUP, interrupt)

    # Every worker takes whole files from the queue, the longest first, so
    # that a file's object is saved and restored once.
    groups: dict[str, list[Mutant]] = {}
    for m in chosen:
        groups.setdefault(m.file, []).append(m)
    queue = sorted(groups.values(), key=len, reverse=True)
    lock = threading.Lock()
    done: list[Mutant] = []
    errors: list[str] = []

    prepared = [0.0]

    def work(w: Worker) -> None:
        try:
            clean = w.prepare()
            with lock:
                prepared[0] = max(prepared[0], time.monotonic() - started)
                print(f"mutate: worker {w.index} ready, a clean test run takes {clean:.1f} s, "
                      f"a run of them all may take {w.limit(w.clean_seconds):.0f} s", flush=True)
            while not STOP.is_set():
                with lock:
                    if not queue:
                        return
                    group = queue.pop(0)
                for m in sorted(group, key=lambda m: m.start):
                    if STOP.is_set():
                        return
                    began = time.monotonic()
                    w.try_mutant(m)
                    m.seconds = time.monotonic() - began
                    if m.outcome == "survived" and normalize_key(m.key) in equivalents:
                        m.outcome = "equivalent"
                    with lock:
                        done.append(m)
                        if m.outcome == "survived":
                            print(f"survived: {m.file}:{m.line}: {m.change} | {m.line_text}", flush=True)
                        if len(done) % 25 == 0:
                            print(f"mutate: {len(done)}/{len(chosen)} in {fmt_time(time.monotonic() - started)}",
                                  flush=True)
        except Interrupted:
            pass
        except Exception as e:  # a worker that cannot build stops the run
            with lock:
                errors.append(f"worker {w.index}: {e}")
            stop_all()
        finally:
            try:
                w.leave()
            except Exception as e:
                with lock:
                    errors.append(f"worker {w.index} could not restore {w.current}: {e}")

    cpu_before = resource.getrusage(resource.RUSAGE_CHILDREN)
    threads = [threading.Thread(target=work, args=(w,), daemon=True) for w in workers]
    for t in threads:
        t.start()
    try:
        for t in threads:
            while t.is_alive():
                t.join(0.5)
    except KeyboardInterrupt:
        stop_all()
        print("mutate: interrupted; restoring the copies", file=sys.stderr, flush=True)
        for t in threads:
            t.join()
    elapsed = time.monotonic() - started
    cpu_after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (cpu_after.ru_utime + cpu_after.ru_stime) - (cpu_before.ru_utime + cpu_before.ru_stime)
    for e in errors:
        print(f"mutate: {e}", file=sys.stderr)

    record = work_dir / "last-run.txt"
    with record.open("w") as f:
        for m in sorted(done, key=lambda m: (m.file, m.start)):
            f.write(f"{m.outcome}\t{m.seconds:.1f}s\t{m.file}:{m.line}: {m.change} | {m.line_text}\t{m.detail}\n")

    count = {k: sum(1 for m in done if m.outcome == k)
             for k in ("killed", "timeout", "survived", "equivalent", "invalid")}
    survivors = sorted((m for m in done if m.outcome == "survived"), key=lambda m: (m.file, m.line, m.start))
    print()
    for m in survivors:
        print(f"{m.file}:{m.line}: {m.change} | {m.line_text}")
    killed = count["killed"] + count["timeout"]
    scored = killed + count["survived"]
    score = 100.0 * killed / scored if scored else 0.0
    print(f"mutants: {len(done)} run of {len(chosen)} chosen ({len(every)} in all, seed {args.seed}): "
          f"{killed} killed ({count['timeout']} by time-out), {count['survived']} survived, "
          f"{count['equivalent']} equivalent, {count['invalid']} invalid; every outcome in "
          f"{record}")
    costs = []
    for k in ("killed", "timeout", "survived", "equivalent", "invalid"):
        times = [m.seconds for m in done if m.outcome == k]
        if times:
            costs.append(f"{k} {sum(times) / len(times):.1f} s")
    if done:
        print(f"time per mutant: {sum(m.seconds for m in done) / len(done):.1f} s on average ("
              + ", ".join(costs) + f"), preparing the copies {fmt_time(prepared[0])}; "
              f"processor time {fmt_time(cpu)} in all")
    print(f"score: {score:.1f}% ({killed} of {scored} non-equivalent mutants killed) in {fmt_time(elapsed)}")
    if errors or STOP.is_set() and len(done) < len(chosen):
        return 2
    return 0 if score >= args.min else 1


if __name__ == "__main__":
    sys.exit(main())
