#!/usr/bin/env python3
"""Review stages with a Ladder: the caller's own levels and verbs.

    review.py [DIRECTIVE]...

Each document starts at a stage; directives move it with the verbs
"advance" (one stage on), "reopen" (one stage back) and "hold" (left out of
this release). Directives given as arguments are added to the built-in rules.
"""
import sys

import _quorvel

# The stages a document goes through, in order.
STAGES = _quorvel.Ladder(["draft", "review", "final"])
# The rungs each verb moves a document, and the verbs that leave it out.
STEPS = {"advance": 1, "reopen": -1}
DROP = {"hold"}
# Every verb this tool takes; parse refuses any other.
VERBS = set(STEPS) | DROP

# The built-in rules, one directive each.
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
    """Folds the rules onto every document and prints the table of stages."""
    rules = RULES + sys.argv[1:]
    try:
        directives = [_quorvel.parse(r, actions=VERBS) for r in rules]
    except _quorvel.DirectiveError as e:
        print(f"review: error: {e}", file=sys.stderr)
        return 2
    print(f"stages {' -> '.join(STAGES.levels)}; advance +1, reopen -1, hold leaves a document out")
    print("rules:\n" + "".join(f"    {r}\n" for r in rules))
    print(f"{'document':<11} {'kind':<6} {'folder':<18} {'stage':>6}    {'result':<6} {'moves':<6} notes")
    for name, kind, folder, stage in DOCS:
        level, held, notes = STAGES.fold(stage, directives, [name], qualifier=kind, scopes=[folder],
                                         steps=STEPS, drop=DROP)
        # The rungs of every matching rule, shown so that a net move of zero is visible.
        moves = " ".join(f"{STEPS[d.action]:+d}" for d in directives
                         if d.action in STEPS and d.matches([name], qualifier=kind, scopes=[folder]))
        status = "held" if held else level
        print(f"{name:<11} {kind:<6} {folder:<18} {stage:>6} -> {status:<6} {moves or '0':<6} {'; '.join(notes)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
