"""Writing texts into directives: `escape` for a NAME or PATH that matches one
text exactly, and the directive text that parses back to a given directive
(which pickling and copying rebuild from)."""
from __future__ import annotations

import _quorvel

from ._text import WHITE_SPACE

# Bytes that the glob or the directive grammar reads as more than themselves, and "#",
# which `python -m quorvel check` takes for a comment after white space.
_SPECIAL = frozenset("\\*?[]{},@=<#")


def escape(text: str) -> str:
    """The NAME or PATH glob that matches exactly `text`, and that the directive
    grammar reads back unchanged.

    Glob metacharacters, braces, commas, backslashes, the grammar's `@`, `=`
    and `<`, and `#` are escaped with a backslash, and so is the `.` of a
    leading `./` (which `check` reports as a likely mistake when it is not
    escaped). White space at either end, which the grammar would trim, stands
    in a one-choice brace group (`{ }`), and the empty text is written `{}`.

    >>> escape("long-*")
    'long-\\\\*'
    >>> escape(" a@b ")
    '{ }a\\\\@b{ }'
    """
    if not isinstance(text, str):
        raise TypeError(f"escape() takes a str, not {type(text).__name__}")
    core = text.strip(WHITE_SPACE)
    if not core:
        return "{" + text + "}"
    start = text.index(core[0])
    end = start + len(core)
    lead, tail = text[:start], text[end:]
    body = "".join("\\" + c if c in _SPECIAL else c for c in core)
    if body.startswith("./"):
        body = "\\" + body
    return (f"{{{lead}}}" if lead else "") + body + (f"{{{tail}}}" if tail else "")


def _dangling(text: str) -> bool:
    """Whether `text` ends in a backslash that escapes what follows it."""
    # The run of backslashes at the end starts on a byte that nothing escapes (the byte
    # before it is no backslash), so its backslashes pair up and an odd one is left over.
    return (len(text) - len(text.rstrip("\\"))) % 2 == 1


def _kind_text(kind: str) -> str:
    """The text between `<` and `>` that reads back as the kind `kind`."""
    if kind == "*":
        return "\\*"
    out = "".join("\\" + c if c in "\\>=" else c for c in kind)
    return "\\" + out if kind[0] in WHITE_SPACE else out


def directive_text(d: _quorvel.Directive) -> str:
    """A directive text that `parse` reads back into the fields of `d`.

    `str(d)` joins the stored texts and does not re-escape, so it can read back
    differently: a kind holding `>` or `=`, a kind that is `*`, a NAME that starts
    with `<`, or a part whose last backslash escaped white space that the grammar
    then trimmed. This text re-escapes the kind, always writes the kind (`<*>` for
    none), and puts a blank after a part that ends in such a backslash.
    """
    def part(text: str) -> str:
        return text + " " if _dangling(text) else text

    out = part(d.action) + ":<" + ("*" if d.kind is None else _kind_text(d.kind)) + ">" + part(d.name)
    if d.path is not None:
        out += "@" + part(d.path)
    if d.note is not None:
        out += "=" + d.note
    return out
