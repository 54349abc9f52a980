"""The findings of `python -m quorvel check`: directives that parse but can
never apply as written, or that are likely typos."""
from __future__ import annotations

from typing import List, Optional, Tuple

from _quorvel import Directive, DirectiveError, parse

from ._escape import _dangling
from ._text import WHITE_SPACE, directive_lines, lint_verb
from .cli import Verbs

# Brace expansion gives up beyond this many alternatives and takes the pattern literally.
_MAX_ALTERNATIVES = 1024


def check_text(text: str, verbs: Verbs) -> List[Tuple[int, str]]:
    """The findings of a directive file's text, as (line number, message) in line order."""
    found = []
    for number, line in directive_lines(text):
        try:
            d = parse(line)
        except DirectiveError as e:
            found.append((number, str(e)))
            continue
        found += [(number, message) for message in findings(d, verbs)]
    return found


def findings(d: Directive, verbs: Verbs) -> List[str]:
    """What is likely wrong with one parsed directive."""
    found = []
    refusal = verbs.refusal(d.action)
    if refusal is not None:
        found.append(refusal)
    if d.kind is None and d.name.startswith("<") and len(d.name) > 1:
        found.append(f'NAME {_q(d.name)} starts with "<" but has no ">": it is no kind filter '
                     '(write "\\<" for a literal "<")')
    if d.kind is not None and any(c in d.kind for c in "*?[{"):
        found.append(f"KIND {_q(d.kind)} is compared exactly, not as a glob")
    if verbs.lint and lint_verb(d.action) == "set" and (d.kind is not None or d.path is not None):
        found.append("a setting takes no KIND and no PATH: they are ignored")
    found += _pattern_findings("NAME", d.name)
    if d.path == "":
        found.append('empty PATH after "@": it matches only an empty scope (write "@{}" if that is meant)')
    elif d.path is not None:
        found += _pattern_findings("PATH", d.path)
    return found


def _q(text: str) -> str:
    return '"' + text + '"'


def _pattern_findings(part: str, source: str) -> List[str]:
    """What is likely wrong with a NAME or PATH glob."""
    src = source.encode()
    found = []
    if _dangling(source):
        found.append(f"{part} {_q(source)} ends in a backslash that escapes nothing (white space after it is "
                     'trimmed): it matches a literal "\\"')
    groups, unclosed = _brace_groups(src)
    count = 1
    for _, _, commas in groups:
        count = min(count * (len(commas) + 1), _MAX_ALTERNATIVES + 1)
    if count > _MAX_ALTERNATIVES:
        found.append(f"{part} {_q(source)} has more than {_MAX_ALTERNATIVES} brace alternatives: it is taken "
                     "literally, braces and commas included")
        groups = []
    for start, end, commas in groups:
        body = src[start + 1:end].decode(errors="replace")
        if not commas and body.strip(WHITE_SPACE):
            found.append(f"brace group {_q('{' + body + '}')} in {part} has one choice: braces do not make text "
                         'literal (write "\\{" and "\\}")')
    if unclosed is not None and count <= _MAX_ALTERNATIVES:
        found.append(f'"{{" in {part} {_q(source)} has no closing "}}": it is a literal "{{" (write "\\{{")')
    i = 0
    while i < len(src):
        if src[i] == ord("\\"):
            i += 2
            continue
        if src[i] != ord("["):
            i += 1
            continue
        read = _bracket_class(src, i)
        if read is None:
            found.append(f'"[" in {part} {_q(source)} has no closing "]": it is a literal "[" (write "\\[")')
            i += 1
            continue
        end, reversed_ranges = read
        text = src[i:end].decode(errors="replace")
        if any(_cut_apart(i, end - 1, group) for group in groups):
            found.append(f"{_q(text)} in {part} straddles a brace group: braces are expanded first, so the "
                         "class is cut apart")
        for lo, hi in reversed_ranges:
            found.append(f"range {_q(chr(lo) + '-' + chr(hi))} in {part} is reversed: it matches nothing")
        i = end
    return found


def _cut_apart(first: int, last: int, group: Tuple[int, int, List[int]]) -> bool:
    """Whether brace expansion cuts the bracket class at [first, last] apart: the class and
    the group overlap without one holding the other whole, or the class lies in the group
    and holds one of its commas. A group inside a class is fine: "[{a,b}]" is "[a]" or "[b]"."""
    start, end, commas = group
    if end < first or last < start or (first < start and end < last):
        return False
    return not (start < first and last < end) or any(first < c < last for c in commas)


def _brace_groups(src: bytes) -> Tuple[List[Tuple[int, int, List[int]]], Optional[int]]:
    """The brace groups of a glob as expansion reads them, each (position of "{", of "}",
    of its commas), and the position of a "{" left without "}" (or None)."""
    groups = []
    group: Optional[Tuple[int, List[int]]] = None
    i = 0
    while i < len(src):
        c = src[i]
        if c == ord("\\"):
            i += 2
            continue
        if group is None:
            if c == ord("{") and i < len(src) - 1:
                group = (i, [])
        elif c == ord(","):
            group[1].append(i)
        elif c == ord("}"):
            groups.append((group[0], i, group[1]))
            group = None
        i += 1
    return groups, None if group is None else group[0]


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
