"""The peer: the same rules in pure Python, as a strong Python developer writes them.

Every NAME and PATH glob is compiled once, when the directive is parsed, into
one regular expression (a braced pattern becomes one alternation) used with
`fullmatch`; each directive's verb is resolved once; and the folds are one
inline loop over tuples `(verb, kind, name_match, path_match, note)` with
early `continue`s, made once per rule list by `lint_rules` and `ladder_rules`.
It works on str rather than bytes and trims with str.strip(), so it agrees
with the module on the ASCII corpora of the benchmarks (run.py checks every
timed case for the same answer on both sides first).
"""
import re

_CAP = 1024


def find_unescaped(s, c, start=0, end=None):
    end = len(s) if end is None else end
    i = start
    while True:
        j = s.find(c, i, end)
        if j < 0:
            return -1
        b = s.find("\\", i, j)
        if b < 0:
            return j
        i = b + 2


def expand_braces(s):
    """The alternatives of a brace pattern, or None past the cap."""
    pieces = []  # (prefix, choices)
    pos = 0
    count = 1
    while True:
        o = find_unescaped(s, "{", pos)
        if o < 0 or o == len(s) - 1:
            break
        c = find_unescaped(s, "}", o + 1)
        if c < 0:
            break
        choices, start = [], o + 1
        while True:
            k = find_unescaped(s, ",", start, c)
            if k < 0:
                choices.append(s[start:c])
                break
            choices.append(s[start:k])
            start = k + 1
        count *= len(choices)
        if count > _CAP:
            return None
        pieces.append((s[pos:o], choices))
        pos = c + 1
    alts = [""]
    for prefix, choices in pieces:
        alts = [a + prefix + ch for a in alts for ch in choices]
    return [a + s[pos:] for a in alts]


def _class(alt, i):
    """Regex for a bracket class starting after `[` at i, or None if unterminated."""
    n = len(alt)
    negated = i < n and alt[i] == "!"
    if negated:
        i += 1
    if i >= n:
        return None
    elems = []
    first = True
    while True:
        if i >= n:
            return None
        ch = alt[i]
        if ch == "]" and not first:
            i += 1
            break
        first = False
        if ch == "-":
            elems.append(None)
            i += 1
        elif ch == "\\" and i + 1 < n:
            elems.append(alt[i + 1])
            i += 2
        else:
            elems.append(ch)
            i += 1
    parts, k = [], 0
    while k < len(elems):
        e = elems[k]
        if e is not None and k + 2 < len(elems) and elems[k + 1] is None and elems[k + 2] is not None:
            if e <= elems[k + 2]:
                parts.append(re.escape(e) + "-" + re.escape(elems[k + 2]))
            k += 3
        else:
            parts.append(re.escape("-" if e is None else e))
            k += 1
    body = "".join(parts)
    if not body:
        return ("." if negated else "(?!)"), i
    return ("[^" if negated else "[") + body + "]", i


def translate(alt):
    out, i, n = [], 0, len(alt)
    while i < n:
        ch = alt[i]
        if ch == "*":
            out.append(".*")
            i += 1
        elif ch == "?":
            out.append(".")
            i += 1
        elif ch == "\\":
            out.append(re.escape(alt[i + 1] if i + 1 < n else "\\"))
            i += 2
        elif ch == "[":
            got = _class(alt, i + 1)
            if got is None:
                out.append(re.escape("["))
                i += 1
            else:
                out.append(got[0])
                i = got[1]
        else:
            out.append(re.escape(ch))
            i += 1
    return "".join(out)


def compile_glob(source):
    alts = expand_braces(source) or [source]
    return re.compile("|".join("(?:%s)" % translate(a) for a in alts), re.DOTALL).fullmatch


def unescape(s):
    return re.sub(r"\\(.)", r"\1", s, flags=re.DOTALL)


class ParseError(ValueError):
    pass


LINT = {"suppress": "suppress", "deescalate": "deescalate", "escalate": "escalate", "note": "note",
        "set": "set", "settings": "set"}


class Directive:
    __slots__ = ("action", "kind", "name", "path", "note", "_name", "_path", "lint")


def parse(spec):
    colon = find_unescaped(spec, ":")
    if colon < 0:
        raise ParseError("expected `ACTION:…` (no `:` found)")
    eq = find_unescaped(spec, "=")
    if 0 <= eq < colon:
        raise ParseError("`=` appeared before the action `:`")
    action = spec[:colon].strip()
    if not action:
        raise ParseError("empty action")
    rest = spec[colon + 1:]
    eq = find_unescaped(rest, "=")
    note = None
    if eq >= 0:
        note, rest = rest[eq + 1:], rest[:eq]
    head = rest.strip()
    kind = None
    if len(head) >= 2 and head[0] == "<":
        gt = find_unescaped(head, ">", 1)
        if gt >= 0:
            k = head[1:gt].strip()
            if not k:
                raise ParseError("empty `<>` kind filter")
            if k != "*":
                kind = unescape(k)
            head = head[gt + 1:].lstrip()
    at = find_unescaped(head, "@")
    if at >= 0:
        name, path = head[:at].strip(), head[at + 1:].strip()
    else:
        name, path = head.strip(), None
    if not name:
        raise ParseError("empty name pattern")
    d = Directive()
    d.action, d.kind, d.name, d.path, d.note = action, kind, name, path, note
    d._name = compile_glob(name)
    d._path = None if path is None else compile_glob(path)
    d.lint = LINT.get(action.strip().lower().replace("-", ""))
    return d


def expand(value):
    if not value.startswith("@"):
        return [parse(value)]
    path = value[1:]
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    if text.startswith("\ufeff"):
        text = text[1:]
    out = []
    for number, line in enumerate(text.split("\n"), 1):
        line = line.rstrip()
        if not line or line.lstrip().startswith("#"):
            continue
        try:
            out.append(parse(line))
        except ParseError as e:
            raise ParseError(f"{path}:{number}: {e}") from None
    return out


SEVERITIES = ("error", "warning", "info")
SEVERITY_INDEX = {s: i for i, s in enumerate(SEVERITIES)}
SUPPRESS = "suppress"
# A lint verb as the fold reads it: a step, or SUPPRESS; set and non-lint
# verbs are left out of the rule list.
LINT_STEP = {"suppress": SUPPRESS, "deescalate": 1, "escalate": -1, "note": 0}


def lint_rules(directives):
    """The tuples lint_fold walks, made once per rule list."""
    return [(LINT_STEP[d.lint], d.kind, d._name, d._path, d.note) for d in directives if d.lint in LINT_STEP]


def lint_fold(current, rules, names, qualifier=None, scopes=None):
    position = SEVERITY_INDEX.get(current.lower())
    if position is None:
        raise ParseError(f"unknown severity {current.lower()!r}")
    scopes = scopes or ()
    net, dropped, notes = 0, False, []
    for verb, kind, name_match, path_match, note in rules:
        if kind is not None and kind != qualifier:
            continue
        for n in names:
            if name_match(n):
                break
        else:
            continue
        if path_match is not None:
            for s in scopes:
                if path_match(s):
                    break
            else:
                continue
        if note is not None:
            notes.append(note)
        if verb is SUPPRESS:
            dropped = True
        else:
            net += verb
    return SEVERITIES[min(2, max(0, position + net))], dropped, notes


def ladder_rules(directives):
    """The tuples Ladder.fold walks: the action stays the raw token."""
    return [(d.action, d.kind, d._name, d._path, d.note) for d in directives]


def matches(rule, names, qualifier=None, scopes=None):
    """Directive.matches over one rule tuple."""
    _, kind, name_match, path_match, _ = rule
    if kind is not None and kind != qualifier:
        return False
    if not any(map(name_match, names)):
        return False
    return path_match is None or any(map(path_match, scopes or ()))


class Ladder:
    __slots__ = ("levels", "index")

    def __init__(self, levels):
        self.levels = list(levels)
        self.index = {level: i for i, level in reversed(list(enumerate(self.levels)))}

    def fold(self, current, rules, names, qualifier=None, scopes=None, steps=None, drop=None, notes=True):
        steps = steps or {}
        drop = drop or frozenset()
        scopes = scopes or ()
        total, dropped, collected = 0, False, []
        for action, kind, name_match, path_match, note in rules:
            if kind is not None and kind != qualifier:
                continue
            for n in names:
                if name_match(n):
                    break
            else:
                continue
            if path_match is not None:
                for s in scopes:
                    if path_match(s):
                        break
                else:
                    continue
            if notes and note is not None:
                collected.append(note)
            total += steps.get(action, 0)
            if action in drop:
                dropped = True
        i = self.index.get(current)
        if i is None:
            return current, dropped, collected
        return self.levels[min(len(self.levels) - 1, max(0, i + total))], dropped, collected
