#!/usr/bin/env python3
"""Review stages with a Ladder: the caller's own levels and verbs.

Each document starts at a stage; directives move it with the verbs
"advance" (one stage on), "reopen" (one stage back) and "hold" (left out of
this release).
"""
import sys

import _quorvel

STAGES = _quorvel.Ladder(["draft", "review", "final"])
VERBS = {"advance", "reopen", "hold"}

RULES = [
    "advance:*@guides/*=copy-edited",
    "advance:<api>*=API frozen",
    "reopen:install=new platform support",
    "hold:roadmap=waiting for planning",
]

DOCS = [  # name, kind, folder, current stage
    ("install", "guide", "guides/install", "review"),
    ("reference", "api", "api/reference", "draft"),
    ("quickstart", "guide", "guides/quickstart", "draft"),
    ("roadmap", "plan", "plans/roadmap", "draft"),
]


def main():
    try:
        directives = [_quorvel.parse(r, actions=VERBS) for r in RULES + sys.argv[1:]]
    except _quorvel.DirectiveError as e:
        print(f"review: error: {e}", file=sys.stderr)
        return 2
    for name, kind, folder, stage in DOCS:
        level, held, notes = STAGES.fold(stage, directives, [name], qualifier=kind, scopes=[folder],
                                         steps={"advance": 1, "reopen": -1}, drop={"hold"})
        status = "held" if held else level
        print(f"{name:<11} {stage:>6} -> {status:<6} {'; '.join(notes)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
