"""Reading the examples of the Markdown docs: fenced blocks, interpreter
sessions (`>>>` lines and the output shown under them), scripts whose
comments show results, and tables."""
import ast
import os
import re

# The repository root.
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def read(name):
    """The text of a file of the repository."""
    with open(os.path.join(ROOT, name), encoding="utf-8") as f:
        return f.read()


def sections(text):
    """The text under each `#`-heading, as (heading, body) pairs in order."""
    found = []
    in_fence = False
    for line in text.splitlines(keepends=True):
        if line.startswith("```"):
            in_fence = not in_fence
        if not in_fence and re.match(r"#+ ", line):
            found.append([line.lstrip("#").strip(), ""])
        elif found:
            found[-1][1] += line
    return [tuple(pair) for pair in found]


def fenced(text):
    """Every fenced block as (language, body), in order."""
    return re.findall(r"^```(\w*)\n(.*?)^```$", text, flags=re.M | re.S)


def session_examples(body):
    """The examples of an interpreter session: (source, expected output lines)."""
    examples = []
    for line in body.splitlines():
        if line.startswith(">>> "):
            examples.append([line[4:], []])
        elif line.startswith("... ") or line == "...":
            examples[-1][0] += "\n" + line[4:]
        elif line.strip():
            examples[-1][1].append(line)
    return [(source, "\n".join(expected)) for source, expected in examples]


def run_source(source, namespace):
    """What the interpreter shows for one example: the repr of an expression's value (nothing
    for None), or `Type: message` for an exception."""
    try:
        try:
            code = compile(source, "<doc>", "eval")
        except SyntaxError:
            exec(compile(source, "<doc>", "exec"), namespace)
            return ""
        value = eval(code, namespace)
        return "" if value is None else repr(value)
    except Exception as e:  # the doc shows the exception as the interpreter names it
        return f"{type(e).__name__}: {e}"


def commented_results(script):
    """The top-level expression statements of a script, each with the comment at the end of
    its last line: (source, comment or None)."""
    lines = script.splitlines()
    out = []
    for node in ast.parse(script).body:
        if isinstance(node, ast.Expr):
            last = lines[node.end_lineno - 1]
            tail = last[node.end_col_offset:]
            comment = tail.split("#", 1)[1].strip() if "#" in tail else None
            out.append((ast.get_source_segment(script, node), comment))
    return out


def tables(body):
    """Every Markdown table as a list of rows, each a dict from column header to cell text."""
    found = []
    lines = body.splitlines()
    i = 0
    while i < len(lines):
        if lines[i].startswith("|") and i + 1 < len(lines) and re.match(r"^\|[-| ]+\|$", lines[i + 1]):
            header = split_row(lines[i])
            rows = []
            i += 2
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(dict(zip(header, split_row(lines[i]))))
                i += 1
            found.append(rows)
        else:
            i += 1
    return found


def split_row(line):
    """The cells of one table row, stripped."""
    return [cell.strip() for cell in line.strip().strip("|").split("|")]


def code_spans(cell):
    """The code spans of a cell, as written between the backticks."""
    return re.findall(r"`([^`]*)`", cell)
