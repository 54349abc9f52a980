"""Text helpers shared by the package: the white space that the directive
grammar trims, the lint verbs' spelling rule, the quoted form of the
library's messages, and the directive text of a line of a directive file."""
from __future__ import annotations

from typing import Dict, Optional

import _quorvel

# The characters that every trim of the directive grammar removes (the Unicode
# White_Space set; str.isspace() differs from it).
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
    "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
)

# The lint verbs by their spelled-out token, as lint_fold reads them.
LINT_VERBS = {"suppress": "suppress", "deescalate": "de-escalate", "escalate": "escalate",
              "note": "note", "set": "set", "settings": "set"}


# Lowercases the ASCII letters and deletes hyphens, as lint_fold does to a token.
_ASCII_LOWER_NO_HYPHEN: Dict[int, Optional[int]] = {c: c + 32 for c in range(ord("A"), ord("Z") + 1)}
_ASCII_LOWER_NO_HYPHEN[ord("-")] = None


def lint_token(token: str) -> str:
    """`token` as lint_fold compares it: trimmed, ASCII-lowercased, without hyphens."""
    if token in LINT_VERBS:  # already in that form
        return token
    return token.strip(WHITE_SPACE).translate(_ASCII_LOWER_NO_HYPHEN)


def lint_verb(token: str) -> Optional[str]:
    """The lint verb that lint_fold reads in `token` ("suppress", "de-escalate",
    "escalate", "note" or "set"), or None when it reads none."""
    return LINT_VERBS.get(lint_token(token))


def quoted(text: str) -> str:
    """`text` in the quoted form of the library's messages (double quotes, backslash
    escapes), as the library itself writes it."""
    other = "b" if text == "a" else "a"
    try:
        _quorvel.parse(other + ":x", actions=frozenset({text}))
    except _quorvel.DirectiveError as e:
        message = str(e)
        return message[message.index("; allowed: [") + len("; allowed: ["):-1]
    raise AssertionError("an action outside the allowed set was accepted")


def directive_text(line: str) -> Optional[str]:
    """The directive text of one line of a directive file (without its line feed): the
    line without trailing white space (a CR before the line feed is white space too), or
    None for a blank or comment line. Leading white space is kept."""
    line = line.rstrip(WHITE_SPACE)
    body = line.lstrip(WHITE_SPACE)
    return line if body and not body.startswith("#") else None

