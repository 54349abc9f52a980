"""The findings of `python -m quorvel check`: directives that parse but can
never apply as written, or that are likely typos.

Cost: time and memory are linear in the input. Lines are read one at a time
(memory: the longest line and its findings); each line is parsed once and
scanned a fixed number of times; the bracket classes and brace groups of a
glob are each met in one left-to-right pass (a class is compared only with the
groups it overlaps, found by bisection, and the two kinds of spans do not
overlap among themselves, so there are fewer such pairs than classes and groups
together); quoted texts are cut to `SHOWN` characters, and a line gives at
most `MAX_FINDINGS` messages and a count of the rest.
"""
from __future__ import annotations

import re
from bisect import bisect_left, bisect_right
from typing import Iterable, Iterator, List, Optional, Sequence, Tuple

from _quorvel import Directive, DirectiveError, parse

from ._escape import _dangling
from ._read import utf8_position
from ._text import WHITE_SPACE, directive_text, lint_verb, quoted
from .cli import Verbs, shorten

# Brace expansion gives up beyond this many alternatives and takes the pattern literally.
_MAX_ALTERNATIVES = 1024
# The findings shown for one line; the rest are counted.
MAX_FINDINGS = 10
# The characters of a NAME, PATH, KIND or action shown in a finding.
SHOWN = 60

Group = Tuple[int, int, List[int]]  # positions of "{", of "}", and of the commas between

# A backslash with the byte it escapes (or alone at the end), and the bytes that open
# or close a bracket class or brace group: searching for these steps over escaped bytes
# as the glob reads them.
_ESCAPED = re.compile(rb"\\.?", re.S)
_BRACE_BYTES = re.compile(rb"\\.?|[{},]", re.S)
_CLASS_START = re.compile(rb"\\.?|\[", re.S)
# A glob without the bytes that any finding about a glob looks for.
_PLAIN = re.compile(r"[^\\\[\]{},#]*")


def check_lines(lines: Iterable[bytes], verbs: Verbs, kinds: Optional[Sequence[str]] = None
                ) -> Iterator[Tuple[int, str]]:
    """The findings of a directive file given as its lines (without line feeds), as
    (line number, message) in line order. With `kinds`, the tool's qualifiers: a KIND
    outside them is a finding."""
    utf8_reported = False
    for number, data in enumerate(lines, 1):
        try:
            line = data.decode("utf-8")
        except UnicodeDecodeError:
            if not utf8_reported:  # the first one: the whole file is refused for it
                _, column, byte = utf8_position(data) or (0, 0, 0)
                yield number, (f"byte 0x{byte:02x} at column {column} is not UTF-8: -D @FILE refuses the whole "
                               "file (save it as UTF-8)")
                utf8_reported = True
            continue
        text = directive_text(line[1:] if number == 1 and line.startswith("\ufeff") else line)
        if text is None:
            continue
        try:
            found = findings(parse(text), verbs, kinds)
        except DirectiveError as e:
            found = [str(e)]
        for message in found[:MAX_FINDINGS]:
            yield number, message
        if len(found) > MAX_FINDINGS:
            yield number, f"{len(found) - MAX_FINDINGS} more findings on this line"


def check_text(text: str, verbs: Verbs, kinds: Optional[Sequence[str]] = None) -> List[Tuple[int, str]]:
    """The findings of a directive file's text, as (line number, message) in line order."""
    return list(check_lines((line.encode("utf-8", "surrogateescape") for line in text.split("\n")), verbs, kinds))


def findings(d: Directive, verbs: Verbs, kinds: Optional[Sequence[str]] = None) -> List[str]:
    """What is likely wrong with one parsed directive."""
    found = []
    refusal = verbs.refusal(d.action, width=SHOWN)
    if refusal is not None:
        found.append(refusal)
    if d.kind is None and d.name.startswith("<") and len(d.name) > 1:
        found.append(f'NAME {_q(d.name)} starts with "<" but has no ">": it is no kind filter '
                     '(write "\\<" for a literal "<")')
    if d.kind is not None and any(c in d.kind for c in "*?[{"):
        found.append(f"KIND {_q(d.kind)} is compared exactly, not as a glob")
    elif d.kind is not None and kinds is not None and d.kind not in kinds:
        found.append(_kind_finding(d.kind, kinds))
    if (d.kind is not None or d.path is not None) and verbs.lint and lint_verb(d.action) == "set":
        found.append("a setting takes no KIND and no PATH: they are ignored")
    found += _pattern_findings("NAME", d.name)
    if d.path == "":
        found.append('empty PATH after "@": it matches only an empty scope (write "@{}" if that is meant)')
    elif d.path is not None:
        if d.path.startswith("./"):
            bare = d.path
            while bare.startswith("./"):
                bare = bare[2:]
            kept = "\\" + d.path  # "\./" matches "./" and tells that it is meant
            found.append(f'PATH {_q(d.path)} starts with "./": scopes are compared byte for byte, and tools '
                         f'name files without it (write {_q(bare or "*")}, or {_q(kept)} if yours does)')
        found += _pattern_findings("PATH", d.path)
    return found


def _q(text: str) -> str:
    return '"' + shorten(text, SHOWN) + '"'


def _kind_finding(kind: str, kinds: Sequence[str]) -> str:
    """The finding for a KIND that is none of the tool's qualifiers."""
    same = [k for k in kinds if k.lower() == kind.lower()]
    if same:
        return (f"KIND {_q(kind)} is compared byte for byte: the tool's qualifier is {_q(same[0])} "
                f"(write {_q('<' + same[0] + '>')})")
    return f"KIND {_q(kind)} is none of the tool's qualifiers [{', '.join(quoted(k) for k in kinds)}]: it never matches"


def _pattern_findings(part: str, source: str) -> List[str]:
    """What is likely wrong with a NAME or PATH glob."""
    if _PLAIN.fullmatch(source):  # most globs: nothing below can apply
        return []
    src = source.encode()
    found = []
    if _dangling(source):
        found.append(f"{part} {_q(source)} ends in a backslash that escapes nothing (white space after it is "
                     'trimmed): it matches a literal "\\"')
    comment = _comment(source)
    if comment is not None:
        found.append(f'{part} {_q(source)} holds "{comment}": a directive line has no trailing comment, so it is '
                     'part of the glob (put the comment on a line of its own, or write "\\#" for a literal "#")')
    groups, unclosed, loose_commas = _brace_groups(src)
    count = 1
    for _, _, commas in groups:
        count = min(count * (len(commas) + 1), _MAX_ALTERNATIVES + 1)
    if count > _MAX_ALTERNATIVES:
        found.append(f"{part} {_q(source)} has more than {_MAX_ALTERNATIVES} brace alternatives: it is taken "
                     "literally, braces and commas included")
        groups = []
    elif loose_commas:
        fix = f"write {_q('{' + source + '}')}" if not groups and unclosed is None else 'put the choices in "{...}"'
        found.append(f'{part} {_q(source)} holds "," outside braces: it is a literal comma, not a list of '
                     f"choices ({fix})")
    for start, end, commas in groups:
        body = "" if commas else src[start + 1:end].decode(errors="replace")
        if body.strip(WHITE_SPACE):
            found.append(f"brace group {_q('{' + body + '}')} in {part} has one choice: braces do not make text "
                         'literal (write "\\{" and "\\}")')
    if unclosed is not None and count <= _MAX_ALTERNATIVES:
        found.append(f'"{{" in {part} {_q(source)} has no closing "}}": it is a literal "{{" (write "\\{{")')
    group_ends = [end for _, end, _ in groups]
    i = 0
    while True:
        m = _CLASS_START.search(src, i)
        while m is not None and m.group() != b"[":
            m = _CLASS_START.search(src, m.end())
        if m is None:
            break
        i = m.start()
        read = _bracket_class(src, i)
        if read is None:
            # No "]" closes this "[", so none closes a later one either: each later class would
            # be read from a later byte over the same bytes.
            more = _count_unescaped(src, i + 1, ord("["))
            found.append(f'"[" in {part} {_q(source)} has no closing "]": it is a literal "[" (write "\\[")'
                         + (f'; so are the {more} "[" after it' if more else ""))
            break
        end, reversed_ranges = read
        if _straddles(i, end - 1, groups, group_ends):
            text = src[i:end].decode(errors="replace")
            found.append(f"{_q(text)} in {part} straddles a brace group: braces are expanded first, so the "
                         "class is cut apart")
        for lo, hi in reversed_ranges:
            found.append(f"range {_q(chr(lo) + '-' + chr(hi))} in {part} is reversed: it matches nothing")
        i = end
    return found


def _comment(source: str) -> Optional[str]:
    """The text from the first "#" that follows white space, if any: a comment written
    after a directive."""
    i = source.find("#")
    while i > 0:
        if source[i - 1] in WHITE_SPACE:
            return shorten(source[i:], 20)
        i = source.find("#", i + 1)
    return None


def _count_unescaped(src: bytes, start: int, byte: int) -> int:
    return _ESCAPED.sub(b"", src[start:]).count(bytes([byte]))


def _straddles(first: int, last: int, groups: List[Group], group_ends: List[int]) -> bool:
    """Whether brace expansion cuts the bracket class at [first, last] apart: a group and
    the class overlap without one holding the other whole, or the class lies in a group
    and holds one of its commas. A group inside a class is fine: "[{a,b}]" is "[a]" or
    "[b]". Only the groups that overlap the class are looked at."""
    k = bisect_left(group_ends, first)
    while k < len(groups) and groups[k][0] <= last:
        start, end, commas = groups[k]
        if not (first < start and end < last):
            if not (start < first and last < end):
                return True
            c = bisect_right(commas, first)
            if c < len(commas) and commas[c] < last:
                return True
        k += 1
    return False


def _brace_groups(src: bytes) -> Tuple[List[Group], Optional[int], bool]:
    """The brace groups of a glob as expansion reads them, each (position of "{", of "}",
    of its commas), the position of a "{" left without "}" (or None), and whether a comma
    stands outside every group."""
    groups = []
    group: Optional[Tuple[int, List[int]]] = None
    loose_comma = False
    for m in _BRACE_BYTES.finditer(src):  # escaped pairs are matched whole, so they are skipped
        c, i = src[m.start()], m.start()
        if group is None:
            if c == ord("{") and i < len(src) - 1:
                group = (i, [])
            elif c == ord(","):
                loose_comma = True
        elif c == ord(","):
            group[1].append(i)
        elif c == ord("}"):
            groups.append((group[0], i, group[1]))
            group = None
    return groups, None if group is None else group[0], loose_comma


def _bracket_class(src: bytes, start: int) -> Optional[Tuple[int, List[Tuple[int, int]]]]:
    """Reads the bracket class that opens at `start` as the glob does: the position after
    its "]" and its reversed ranges, or None when it is unterminated."""
    i = start + 1
    if i < len(src) and src[i] == ord("!"):
        i += 1
    elements: List[Optional[int]] = []  # a literal byte, or None for a bare dash
    while i < len(src):
        c = src[i]
        if c == ord("]") and elements:
            reversed_ranges = []
            k = 0
            while k < len(elements):
                lo = elements[k]
                hi = elements[k + 2] if k + 2 < len(elements) else None
                if lo is not None and k + 2 < len(elements) and elements[k + 1] is None and hi is not None:
                    if lo > hi:
                        reversed_ranges.append((lo, hi))
                    k += 3
                else:
                    k += 1
            return i + 1, reversed_ranges
        if c == ord("\\"):
            elements.append(src[i + 1] if i + 1 < len(src) else c)
            i += 2
        else:
            elements.append(None if c == ord("-") else c)
            i += 1
    return None
