"""The findings that linters write, read and written back per format.

A format turns its input into `Finding`s (the code, the symbolic name, the tool,
the path and the severity that `filter` folds directives onto) and writes back
the findings that remain, in the form they came in:

    sarif         SARIF 2.1.0: a document of runs and their results
    ruff-json     ruff's --output-format json: an array of objects
    pylint-json2  pylint's --output-format=json2: an object with "messages"
    mypy-json     mypy's -O json: one object a line
    lines         PATH:LINE[:COL]: CODE MESSAGE (flake8, pycodestyle, ruff's
                  concise output), mypy's PATH:LINE[:COL]: error: MESSAGE  [CODE],
                  and pylint's parseable PATH:LINE: [ID(symbol), OBJECT] MESSAGE

Line formats are read as a stream; the JSON documents are read whole, up to
DOCUMENT_LIMIT bytes.
"""
from __future__ import annotations

import json
import os
import re
from typing import IO, Any, Callable, Dict, Iterator, List, Optional, Tuple
from urllib.parse import unquote, urlsplit

from ._read import ReadError, iter_lines, read_bytes, shown

# The largest JSON document read whole; a line format streams any size.
DOCUMENT_LIMIT = 512 << 20
# The longest line of a line format.
LINE_LIMIT = 1 << 20

FORMATS = ("sarif", "ruff-json", "pylint-json2", "mypy-json", "lines")

# The severity each tool's level starts a finding at.
SARIF_LEVELS = {"error": "error", "warning": "warning", "note": "info", "none": "info"}
PYLINT_TYPES = {"fatal": "error", "error": "error", "warning": "warning", "refactor": "info",
                "convention": "info", "info": "info"}
MYPY_SEVERITIES = {"error": "error", "warning": "warning", "note": "info"}
# And back, for a severity that a directive moved.
TO_SARIF = {"error": "error", "warning": "warning", "info": "note"}
TO_PYLINT = {"error": "error", "warning": "warning", "info": "convention"}
TO_MYPY = {"error": "error", "warning": "warning", "info": "note"}
RANK = {"error": 0, "warning": 1, "info": 2}


class FormatError(ReadError):
    """Input that is not what its format says: the message names the input and the place."""


class Finding:
    """One finding: the target of a fold and where to write its outcome back."""

    __slots__ = ("tool", "code", "symbol", "path", "line", "column", "severity", "message", "raw")

    def __init__(self, tool: str, code: str, symbol: Optional[str], path: str, line: int, column: int,
                 severity: str, message: str, raw: Any) -> None:
        self.tool, self.code, self.symbol, self.path = tool, code, symbol, path
        self.line, self.column, self.severity, self.message, self.raw = line, column, severity, message, raw

    @property
    def names(self) -> List[str]:
        """The names a directive's NAME is matched against: the code, then the symbolic name."""
        return [self.code] if self.symbol is None or self.symbol == self.code else [self.code, self.symbol]

    def where(self) -> str:
        """PATH:LINE[:COL]: CODE, as the finding is shown in messages."""
        col = f":{self.column}" if self.column else ""
        return f"{self.path}:{self.line}{col}: {self.code}"


class Scopes:
    """Paths as scopes: relative to the working directory, with `/` separators (a path
    outside it stays absolute). Remembers each path it has seen."""

    def __init__(self, base: Optional[str] = None) -> None:
        self.base = os.path.abspath(base or os.getcwd())
        self.seen: Dict[str, str] = {}

    def __call__(self, path: str) -> str:
        scope = self.seen.get(path)
        if scope is None:
            full = os.path.normpath(os.path.join(self.base, path))
            rel = os.path.relpath(full, self.base)
            scope = full if rel == os.pardir or rel.startswith(os.pardir + os.sep) else rel
            scope = scope.replace(os.sep, "/")
            self.seen[path] = scope
        return scope


def uri_path(uri: str, base: Optional[str] = None) -> str:
    """The file path of a SARIF artifact URI: a file: URI, or a relative reference
    (resolved against `base`, a file: URI, when given)."""
    parts = urlsplit(uri)
    if parts.scheme == "file":
        return unquote(parts.path)
    if parts.scheme:
        return uri
    path = unquote(parts.path)
    if base:
        return os.path.join(uri_path(base), path)
    return path


# ---------------------------------------------------------------- reading

class Source:
    """The input: its name as shown, and its lines or whole bytes through quorvel._read."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.shown = shown(name)

    def error(self, where: str, what: str) -> FormatError:
        return FormatError(f"{self.shown}:{where}: {what}" if where else f"{self.shown}: {what}")


def _json_error(source: Source, e: json.JSONDecodeError, fmt: str, line_offset: int = 0) -> FormatError:
    what = "truncated" if e.msg.startswith("Expecting") and e.pos >= len(e.doc) - 1 else "malformed"
    label = "" if fmt == "JSON" else f" ({fmt})"
    return source.error(f"{e.lineno + line_offset}:{e.colno}", f"{what} JSON{label}: {e.msg}")


def _document(source: Source, data: bytes, fmt: str) -> Any:
    if not data.strip():
        raise source.error("", f"empty input; expected {fmt}")
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        raise source.error("", f"not UTF-8 (byte {e.start})") from None
    try:
        return json.loads(text)
    except json.JSONDecodeError as e:
        raise _json_error(source, e, fmt) from None
    except RecursionError:
        raise source.error("", f"{fmt} JSON nested too deeply") from None


def _need(source: Source, obj: Any, key: str, kind: type, where: str, fmt: str) -> Any:
    value = obj.get(key) if isinstance(obj, dict) else None
    if not isinstance(value, kind) or isinstance(value, bool) and kind is int:
        what = "no" if value is None else f"a {type(value).__name__} for the"
        raise source.error("", f"{where}: {what} {key!r} ({fmt})")
    return value


class Reader:
    """Reads one format: `findings()` yields the findings (each once, lazily for the
    line formats); `write(out, kept)` writes the kept ones back in the same form."""

    name = ""

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str]) -> None:
        self.source, self.scopes, self.tool = source, scopes, tool

    def findings(self) -> Iterator[Finding]:
        raise NotImplementedError


class Sarif(Reader):
    name = "sarif"

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str], doc: Any) -> None:
        super().__init__(source, scopes, tool)
        self.doc = doc

    def findings(self) -> Iterator[Finding]:
        src, fmt, doc = self.source, self.name, self.doc
        runs = _need(src, doc, "runs", list, "the document", fmt)
        for r, run in enumerate(runs):
            driver = _need(src, _need(src, run, "tool", dict, f"runs[{r}]", fmt), "driver", dict,
                           f"runs[{r}].tool", fmt)
            tool = self.tool or _need(src, driver, "name", str, f"runs[{r}].tool.driver", fmt).lower()
            rules = driver.get("rules") if isinstance(driver.get("rules"), list) else []
            by_id: Dict[str, Dict[str, Any]] = {}
            for rule in rules:
                if isinstance(rule, dict) and isinstance(rule.get("id"), str):
                    by_id.setdefault(rule["id"], rule)
            bases = run.get("originalUriBaseIds") if isinstance(run.get("originalUriBaseIds"), dict) else {}
            results = run.get("results") or []
            if not isinstance(results, list):
                raise src.error("", f"runs[{r}].results: not an array ({fmt})")
            # What one rule and one artifact give, worked out once per run.
            known: Dict[Tuple[str, Any], Tuple[Optional[str], Any]] = {}
            places: Dict[Tuple[str, Any], str] = {}
            for i, res in enumerate(results):
                try:
                    code = res["ruleId"]
                    index = res.get("ruleIndex")
                    physical = res["locations"][0]["physicalLocation"]
                    artifact = physical["artifactLocation"]
                    uri = artifact["uri"]
                    base = artifact.get("uriBaseId")
                    if code.__class__ is not str or uri.__class__ is not str:
                        raise TypeError
                except (KeyError, IndexError, TypeError, AttributeError):
                    code, index, physical, uri, base = self._slow(res, rules, f"runs[{r}].results[{i}]")
                rule_info = known.get((code, index))
                if rule_info is None:
                    rule_info = known[code, index] = self._rule(code, index, rules, by_id)
                symbol, default_level = rule_info
                level = res.get("level", default_level)
                severity = SARIF_LEVELS.get(level) if level.__class__ is str else None
                if severity is None:
                    raise src.error("", f"runs[{r}].results[{i}]: unknown level {level!r} ({fmt})")
                scope = places.get((uri, base))
                if scope is None:
                    base_uri = bases.get(base) if isinstance(base, str) else None
                    base_uri = base_uri.get("uri") if isinstance(base_uri, dict) else None
                    scope = places[uri, base] = self.scopes(
                        uri_path(uri, base_uri if isinstance(base_uri, str) else None))
                region = physical.get("region")
                line = column = 0
                if region.__class__ is dict:
                    line, column = region.get("startLine", 0), region.get("startColumn", 0)
                message = res.get("message")
                text = message.get("text", "") if message.__class__ is dict else ""
                yield Finding(tool, code, symbol, scope, line if line.__class__ is int else 0,
                              column if column.__class__ is int else 0, severity,
                              text if text.__class__ is str else "", res)

    @staticmethod
    def _rule(code: str, index: Any, rules: List[Any], by_id: Dict[str, Dict[str, Any]]) -> Tuple[Optional[str], Any]:
        """The symbolic name and the default level of the rule of `code`."""
        rule = rules[index] if isinstance(index, int) and 0 <= index < len(rules) else by_id.get(code)
        if not isinstance(rule, dict):
            return None, "warning"
        symbol = rule.get("name")
        if not isinstance(symbol, str):
            props = rule.get("properties")
            symbol = props.get("name") if isinstance(props, dict) else None
        config = rule.get("defaultConfiguration")
        level = config.get("level") if isinstance(config, dict) else None
        return (symbol if isinstance(symbol, str) else None), (level if level is not None else "warning")

    def _slow(self, res: Any, rules: List[Any], at: str) -> Tuple[str, Any, Dict[str, Any], str, Any]:
        """The code, rule index, physical location, URI and base of a result that is
        not in the usual form, or FormatError naming what is missing."""
        src, fmt = self.source, self.name
        if not isinstance(res, dict):
            raise src.error("", f"{at}: not an object ({fmt})")
        code, index = res.get("ruleId"), res.get("ruleIndex")
        if not isinstance(code, str):
            ref = res.get("rule")
            code = ref.get("id") if isinstance(ref, dict) else None
            if not isinstance(code, str) and isinstance(index, int) and 0 <= index < len(rules):
                code = rules[index].get("id") if isinstance(rules[index], dict) else None
            if not isinstance(code, str):
                raise src.error("", f"{at}: no 'ruleId' ({fmt})")
        try:
            physical = res["locations"][0]["physicalLocation"]
            artifact = physical["artifactLocation"]
            uri = artifact["uri"]
            if not isinstance(uri, str) or not isinstance(physical, dict):
                raise TypeError
        except (KeyError, IndexError, TypeError):
            raise src.error("", f"{at}: no locations[0].physicalLocation.artifactLocation.uri ({fmt})") from None
        return code, index, physical, uri, artifact.get("uriBaseId")


class RuffJson(Reader):
    name = "ruff-json"

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str], doc: Any) -> None:
        super().__init__(source, scopes, tool)
        if not isinstance(doc, list):
            raise source.error("", f"expected an array of findings ({self.name})")
        self.doc = doc

    def findings(self) -> Iterator[Finding]:
        src, fmt, tool = self.source, self.name, self.tool or "ruff"
        for i, obj in enumerate(self.doc):
            at = f"[{i}]"
            if not isinstance(obj, dict):
                raise src.error("", f"{at}: not an object ({fmt})")
            code = obj.get("code")
            if not isinstance(code, str):  # a syntax error has no code, only a name
                code = obj.get("name")
            if not isinstance(code, str):
                raise src.error("", f"{at}: no 'code' ({fmt})")
            path = _need(src, obj, "filename", str, at, fmt)
            loc: Dict[str, Any] = obj["location"] if isinstance(obj.get("location"), dict) else {}
            symbol = obj.get("name") if isinstance(obj.get("name"), str) else None
            severity = SARIF_LEVELS.get(obj.get("severity") or "warning", "warning")
            yield Finding(tool, code, symbol, self.scopes(path), loc.get("row") or 0, loc.get("column") or 0,
                          severity, str(obj.get("message", "")), obj)


class PylintJson2(Reader):
    name = "pylint-json2"

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str], doc: Any) -> None:
        super().__init__(source, scopes, tool)
        _need(source, doc, "messages", list, "the document", self.name)
        self.doc = doc

    def findings(self) -> Iterator[Finding]:
        src, fmt, tool = self.source, self.name, self.tool or "pylint"
        for i, obj in enumerate(self.doc["messages"]):
            at = f"messages[{i}]"
            code = obj.get("messageId") if isinstance(obj, dict) else None
            if not isinstance(code, str):
                code = _need(src, obj, "symbol", str, at, fmt)
            path = obj.get("path")
            if not isinstance(path, str) or not path:
                path = _need(src, obj, "absolutePath", str, at, fmt)
            kind = obj.get("type")
            severity = PYLINT_TYPES.get(kind) if isinstance(kind, str) else None
            if severity is None:
                raise src.error("", f"{at}: unknown type {kind!r} ({fmt})")
            symbol = obj.get("symbol") if isinstance(obj.get("symbol"), str) else None
            yield Finding(tool, code, symbol, self.scopes(path), obj.get("line") or 0, obj.get("column") or 0,
                          severity, str(obj.get("message", "")), obj)


class MypyJson(Reader):
    name = "mypy-json"

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str], lines: Iterator[Tuple[int, bytes]]) -> None:
        super().__init__(source, scopes, tool)
        self.lines = lines

    def findings(self) -> Iterator[Finding]:
        src, fmt, tool = self.source, self.name, self.tool or "mypy"
        loads = json.loads
        for number, line in self.lines:
            if not line.strip():
                continue
            try:
                obj = loads(line)
            except json.JSONDecodeError as e:
                raise src.error(f"{number}:{e.colno}", f"malformed {fmt} line: {e.msg}") from None
            except UnicodeDecodeError as e:
                raise src.error(str(number), f"not UTF-8 (byte {e.start})") from None
            at = str(number)
            if not isinstance(obj, dict):
                raise src.error(at, f"not an object ({fmt})")
            path = obj.get("file")
            if not isinstance(path, str):
                raise src.error(at, f"no 'file' ({fmt})")
            kind = obj.get("severity")
            severity = MYPY_SEVERITIES.get(kind) if isinstance(kind, str) else None
            if severity is None:
                raise src.error(at, f"unknown severity {kind!r} ({fmt})")
            code = obj.get("code")
            if not isinstance(code, str):
                code = str(kind)  # a note on the finding before it has no code of its own
            yield Finding(tool, code, None, self.scopes(path), obj.get("line") or 0, obj.get("column") or 0,
                          severity, str(obj.get("message", "")), obj)


# PATH:LINE[:COL]: CODE MESSAGE, or mypy's PATH:LINE[:COL]: LEVEL: MESSAGE  [CODE]
_LINE = re.compile(rb"^(.+?):(\d+):(?:(\d+):)? ?(\S+)(?: (.*))?$")
_MYPY_CODE = re.compile(rb"  \[([a-z0-9-]+)\]$")
# pylint's parseable lines: PATH:LINE: [C0114(missing-module-docstring), OBJECT] MESSAGE
_PYLINT_WORD = re.compile(r"\[([A-Z]\d{4})\(([a-z0-9-]+)\),")
_SUMMARIES = (b"Found ", b"Success: ", b"All checks passed", b"[*] ", b"No fixes available", b"*************",
              b"-----", b"Your code has been rated")
_PYLINT_ID = re.compile(r"[CRWEFI]\d{4}")
_PYLINT_CATEGORY = {"C": "info", "R": "info", "I": "info", "W": "warning", "E": "error", "F": "error"}


def lines_severity(code: str) -> str:
    """The starting severity of a `lines` finding: pylint's category for a message id
    (C, R, I: info; W: warning; E, F: error), error for E9xx (a syntax or read error),
    else warning."""
    if _PYLINT_ID.fullmatch(code):
        return _PYLINT_CATEGORY[code[0]]
    if len(code) == 4 and code.startswith("E9") and code[2:].isdigit():
        return "error"
    return "warning"


class Lines(Reader):
    name = "lines"

    def __init__(self, source: Source, scopes: Scopes, tool: Optional[str], lines: Iterator[Tuple[int, bytes]]) -> None:
        super().__init__(source, scopes, tool)
        self.lines = lines

    def findings(self) -> Iterator[Finding]:
        # A finding is held until the next line shows whether that line continues
        # its message: pylint's parseable messages (duplicate-code) take several lines.
        pending: Optional[Finding] = None
        src = self.source
        for number, raw in self.lines:
            m = _LINE.match(raw) if raw.strip() else None
            if m is None:
                if pending is not None and pending.raw[1].startswith("["):
                    pending.raw = (pending.raw[0] + b"\n" + raw, pending.raw[1])
                    continue
                if not raw.strip() or raw.startswith(_SUMMARIES):
                    continue  # a tool's headings and closing summary (mypy, ruff, pylint)
                raise src.error(str(number), "not PATH:LINE[:COL]: CODE MESSAGE (lines)")
            if pending is not None:
                yield pending
                pending = None
            try:
                path, line, col, word, rest = (g.decode("utf-8") if g is not None else None for g in m.groups())
            except UnicodeDecodeError as e:
                raise src.error(str(number), f"not UTF-8 (byte {e.start})") from None
            assert path is not None and line is not None and word is not None
            rest = rest or ""
            symbol = None
            if word.endswith(":") and word[:-1] in MYPY_SEVERITIES:
                severity = MYPY_SEVERITIES[word[:-1]]
                tagged = _MYPY_CODE.search(raw)
                code = tagged.group(1).decode() if tagged else word[:-1]
                tool = self.tool or "mypy"
            elif word.startswith("[") and (pylint := _PYLINT_WORD.match(word)) is not None:
                code, symbol = pylint.group(1), pylint.group(2)
                severity, tool = lines_severity(code), self.tool or "pylint"
            else:
                code, severity, tool = word, lines_severity(word), self.tool or "flake8"
            pending = Finding(tool, code, symbol, self.scopes(path), int(line), int(col or 0), severity, rest,
                              (raw, word))
        if pending is not None:
            yield pending


# ---------------------------------------------------------------- writing

class Outcome:
    """What the directives did to one finding."""

    __slots__ = ("severity", "dropped", "notes", "suppressions")

    def __init__(self, severity: str, dropped: bool, notes: List[str], suppressions: List[Dict[str, Any]]) -> None:
        self.severity, self.dropped, self.notes, self.suppressions = severity, dropped, notes, suppressions


def _dump(obj: Any) -> str:
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


def write_sarif(reader: Sarif, out: IO[str], results: List[Tuple[Finding, Outcome]]) -> None:
    for finding, outcome in results:
        res = finding.raw
        if outcome.severity != finding.severity:
            res["level"] = TO_SARIF[outcome.severity]
        if outcome.notes:
            props = res.get("properties")
            if not isinstance(props, dict):
                props = res["properties"] = {}
            props["quorvel"] = {"notes": outcome.notes}
        if outcome.dropped:
            kept = res.get("suppressions")
            res["suppressions"] = (kept if isinstance(kept, list) else []) + outcome.suppressions
    out.write(_dump(reader.doc))
    out.write("\n")


def _moved(obj: Dict[str, Any], key: str, finding: Finding, outcome: Outcome, table: Dict[str, str]) -> None:
    if outcome.severity != finding.severity:
        obj[key] = table[outcome.severity]


def write_ruff(reader: RuffJson, out: IO[str], results: List[Tuple[Finding, Outcome]]) -> None:
    kept = []
    for finding, outcome in results:
        if not outcome.dropped:
            if "severity" in finding.raw:
                _moved(finding.raw, "severity", finding, outcome, TO_SARIF)
            kept.append(finding.raw)
    out.write(_dump(kept))
    out.write("\n")


def write_pylint(reader: PylintJson2, out: IO[str], results: List[Tuple[Finding, Outcome]]) -> None:
    kept = []
    for finding, outcome in results:
        if not outcome.dropped:
            if PYLINT_TYPES.get(finding.raw.get("type")) != outcome.severity:
                _moved(finding.raw, "type", finding, outcome, TO_PYLINT)
            kept.append(finding.raw)
    doc = dict(reader.doc)
    doc["messages"] = kept
    out.write(_dump(doc))
    out.write("\n")


def write_mypy_line(out: IO[str], finding: Finding, outcome: Outcome) -> None:
    _moved(finding.raw, "severity", finding, outcome, TO_MYPY)
    out.write(_dump(finding.raw))
    out.write("\n")


def write_line(out: IO[str], finding: Finding, outcome: Outcome) -> None:
    raw, word = finding.raw
    text = raw.decode("utf-8")
    if outcome.severity != finding.severity and word.endswith(":") and word[:-1] in MYPY_SEVERITIES:
        head, _, tail = text.partition(" " + word + " ")
        text = f"{head} {TO_MYPY[outcome.severity]}: {tail}"
    out.write(text)
    out.write("\n")


# ---------------------------------------------------------------- opening

STREAMED = {"mypy-json": MypyJson, "lines": Lines}
WHOLE: Dict[str, Callable[..., Reader]] = {"sarif": Sarif, "ruff-json": RuffJson, "pylint-json2": PylintJson2}


def _numbered(first: List[Tuple[int, bytes]], rest: Iterator[Tuple[int, bytes]]) -> Iterator[Tuple[int, bytes]]:
    yield from first
    yield from rest


def _whole_kind(doc: Any) -> Optional[str]:
    if isinstance(doc, list):
        return "ruff-json"
    if isinstance(doc, dict):
        if "runs" in doc:
            return "sarif"
        if "messages" in doc:
            return "pylint-json2"
    return None


def open_input(name: str, fmt: Optional[str], scopes: Scopes, tool: Optional[str] = None) -> Reader:
    """The reader of input `name` ("-" for standard input) in format `fmt`, or in the
    format its first line shows when `fmt` is None. FormatError (a ReadError) when the
    input is empty, cannot be read, or is not in its format."""
    source = Source(name)
    if fmt in WHOLE:
        data = read_bytes(name, limit=DOCUMENT_LIMIT)
        doc = _document(source, data, fmt)
        kind = _whole_kind(doc)
        if kind != fmt:
            raise source.error("", f"this is {kind or 'a JSON document'}, not {fmt}")
        return WHOLE[fmt](source, scopes, tool, doc)
    lines = iter_lines(name, max_line=LINE_LIMIT if fmt else DOCUMENT_LIMIT)
    numbered = enumerate(lines, 1)
    if fmt in STREAMED:
        return STREAMED[fmt](source, scopes, tool, numbered)  # empty: no findings
    if fmt is not None:
        raise ValueError(f"unknown format {fmt!r}")
    # Detect: the first line that is not blank tells.
    head: List[Tuple[int, bytes]] = []
    for number, line in numbered:
        head.append((number, line))
        if line.strip() and not line.startswith(_SUMMARIES):
            break
    else:
        if any(line.strip() for _, line in head):  # only a tool's summary: "All checks passed!"
            return Lines(source, scopes, tool, iter(head))
        raise source.error("", f"empty input; no findings in any format ({', '.join(FORMATS)})")
    first = head[-1][1].lstrip()
    if first.startswith(b"\xef\xbb\xbf"):
        first = first[3:]
    if first.startswith(b"{") and first.rstrip().endswith(b"}"):
        try:
            obj = json.loads(first)
        except ValueError:
            obj = None
        if isinstance(obj, dict) and "file" in obj and "severity" in obj:
            return MypyJson(source, scopes, tool, _numbered(head, numbered))
    if first.startswith((b"{", b"[")):
        if name != "-":  # a file is read again, whole, faster than line by line
            close = getattr(lines, "close", None)
            if close is not None:
                close()
            data = read_bytes(name, limit=DOCUMENT_LIMIT)
        else:
            size = 0
            chunks = []
            for _, line in _numbered(head, numbered):
                size += len(line) + 1
                if size > DOCUMENT_LIMIT:
                    raise source.error("", f"a JSON document over {DOCUMENT_LIMIT >> 20} MiB")
                chunks.append(line)
            data = b"\n".join(chunks)
        doc = _document(source, data, "JSON")
        kind = _whole_kind(doc)
        if kind is None:
            raise source.error("", "a JSON document in no format known (" + ", ".join(FORMATS) + "); "
                               "give --format")
        return WHOLE[kind](source, scopes, tool, doc)
    if _LINE.match(head[-1][1]):
        return Lines(source, scopes, tool, _numbered(head, numbered))
    raise source.error(str(head[-1][0]), "cannot tell the format (" + ", ".join(FORMATS) + "); give --format")
