"""A deliberately simple glob matcher for the property tests.

Brace alternatives are multiplied out (nothing past 1024), each alternative is
tokenized as the dialect reads it and translated into a regular expression
over bytes, and the text is matched by Python's `re`: an algorithm that shares
nothing with the engine's (nor with the C++ reference's table). Pattern and
text are handled as UTF-8 bytes.
"""
import functools
import re

CAP = 1024


def _find(s, start, end, ch):
    """The first `ch` in s[start:end] that no backslash escapes, or -1."""
    i = start
    while i < end:
        if s[i] == ord("\\"):
            i += 2
            continue
        if s[i] == ord(ch):
            return i
        i += 1
    return -1


def expand(s):
    """The alternatives of bytes `s`, or None past the cap."""
    open_ = _find(s, 0, len(s), "{")
    if open_ < 0 or open_ + 1 == len(s):
        return [s]
    close = _find(s, open_ + 1, len(s), "}")
    if close < 0:
        return [s]
    rest = expand(s[close + 1:])
    if rest is None:
        return None
    choices, start = [], open_ + 1
    while True:
        comma = _find(s, start, close, ",")
        if comma < 0:
            break
        choices.append(s[start:comma])
        start = comma + 1
    choices.append(s[start:close])
    if len(choices) * len(rest) > CAP:
        return None
    return [s[:open_] + c + r for c in choices for r in rest]


def tokens(a):
    """Tokens of one alternative: ("*",), ("?",) or ("set", frozenset of bytes)."""
    out, i, n = [], 0, len(a)
    while i < n:
        c = a[i]
        if c == ord("*"):
            out.append(("*",))
            i += 1
        elif c == ord("?"):
            out.append(("?",))
            i += 1
        elif c == ord("\\"):
            out.append(("set", frozenset([a[i + 1] if i + 1 < n else c])))
            i += 2
        elif c == ord("["):
            j, neg = i + 1, False
            if j < n and a[j] == ord("!"):
                neg, j = True, j + 1
            elements, closed, first = [], False, True
            while j < n:
                e = a[j]
                if e == ord("]") and not first:
                    closed, j = True, j + 1
                    break
                first = False
                if e == ord("-"):
                    elements.append(("-", e))
                    j += 1
                elif e == ord("\\") and j + 1 < n:
                    elements.append(("l", a[j + 1]))
                    j += 2
                else:
                    elements.append(("l", e))
                    j += 1
            if not closed:
                out.append(("set", frozenset([c])))
                i += 1
                continue
            members, k = set(), 0
            while k < len(elements):
                if (k + 2 < len(elements) and elements[k][0] == "l" and elements[k + 1][0] == "-"
                        and elements[k + 2][0] == "l"):
                    members.update(range(elements[k][1], elements[k + 2][1] + 1))
                    k += 3
                else:
                    members.add(elements[k][1])
                    k += 1
            if neg:
                members = set(range(256)) - members
            out.append(("set", frozenset(members)))
            i = j
        else:
            out.append(("set", frozenset([c])))
            i += 1
    return out


def _regex(t):
    """The regular expression over bytes of one alternative's tokens."""
    out = []
    for tok in t:
        if tok[0] == "*":
            out.append(b".*")
        elif tok[0] == "?":
            out.append(b".")
        elif not tok[1]:
            out.append(b"(?!)")
        else:
            out.append(b"[" + b"".join(b"\\x%02x" % m for m in sorted(tok[1])) + b"]")
    return b"".join(out)


@functools.lru_cache(maxsize=4096)
def _compiled(pattern):
    p = pattern.encode()
    alts = expand(p)
    if alts is None:
        alts = [p]
    branches = dict.fromkeys(_regex(tokens(a)) for a in alts)  # in order, each once
    return re.compile(b"|".join(b"(?:" + b + b")" for b in branches), re.DOTALL)


def glob_match(pattern, text):
    """Whether str `text` matches str `pattern`."""
    return _compiled(pattern).fullmatch(text.encode()) is not None
