"""Reading the package's sources: directive files, standard input and any file
a command is given, with the promises of the module's own `@file` reads.

- Ctrl-C gets through within a second: data is read in chunks of at most
  `CHUNK` bytes, so the interpreter runs its signal handlers between them
  (a read that blocks on a pipe or a terminal is interrupted by the signal).
- Memory is bounded by what is kept: `read_bytes` keeps the content (and
  refuses more than `limit` bytes before keeping them), `iter_lines` keeps
  one line (and refuses a line longer than `max_line`).
- What is read: regular files, pipes and FIFOs (so `<(command)` works),
  sockets, terminals and /dev/null. Other devices are refused with a message
  before anything is read: /dev/zero or /dev/urandom never end, and a disk is
  no text.
- Every failure is one `ReadError` whose text names the source; the text of an
  operating-system error is the module's: "NAME: TEXT (os error N)".
"""
from __future__ import annotations

import io
import os
import stat
import sys
from typing import BinaryIO, Iterator, List, Optional, Tuple

from _quorvel import DirectiveError

CHUNK = 1 << 20
# The longest line that iter_lines keeps by default.
MAX_LINE = 1 << 26


class ReadError(DirectiveError):
    """A source that could not be read; str(err) is the whole message for the user, naming the source.
    A DirectiveError, as the module's own failed reads are."""


def shown(name: str) -> str:
    """How a file name from the command line is shown in messages: "<stdin>" for "-",
    else the name with every byte that is not UTF-8 (argv's surrogate escapes) written
    as "\\xNN", so the message can be printed in any locale."""
    if name == "-":
        return "<stdin>"
    try:
        name.encode("utf-8")
        return name
    except UnicodeEncodeError:
        return os.fsencode(name).decode("utf-8", "backslashreplace")


def os_error_text(error: OSError) -> str:
    """An operating-system error as the module words it: "TEXT (os error N)"."""
    if error.errno is None:
        return str(error)
    return f"{os.strerror(error.errno)} (os error {error.errno})"


def _open(name: str) -> BinaryIO:
    """The open source `name` ("-": standard input, which is not closed after reading)."""
    if name == "-":
        stream: Optional[BinaryIO] = getattr(sys.stdin, "buffer", None)
        try:
            if stream is None:  # sys.stdin is None, or text only
                stream = os.fdopen(0, "rb", closefd=False)
            _refuse_device(name, stream)
        except io.UnsupportedOperation:  # no descriptor behind sys.stdin (a stream in memory)
            pass
        except OSError as e:
            raise ReadError(f"{shown(name)}: {os_error_text(e)}") from None
        assert stream is not None
        return stream
    if "\0" in name:
        raise ReadError(f"{shown(name)}: file name contained an unexpected NUL byte")
    try:
        f = open(name, "rb")
    except OSError as e:
        raise ReadError(f"{shown(name)}: {os_error_text(e)}") from None
    try:
        _refuse_device(name, f)
    except BaseException:
        f.close()
        raise
    return f


def _refuse_device(name: str, f: BinaryIO) -> None:
    """Raises ReadError for a directory or a device other than a terminal or /dev/null."""
    mode = os.fstat(f.fileno()).st_mode
    if stat.S_ISDIR(mode):
        raise ReadError(f"{shown(name)}: Is a directory (os error 21)")
    if (stat.S_ISCHR(mode) or stat.S_ISBLK(mode)) and not f.isatty() and not _is_null(f):
        raise ReadError(f"{shown(name)}: a device, not a file: it is not read")


def _is_null(f: BinaryIO) -> bool:
    try:
        return os.fstat(f.fileno()).st_rdev == os.stat(os.devnull).st_rdev
    except OSError:
        return False


def _close(name: str, f: BinaryIO) -> None:
    if name != "-":
        f.close()


def _chunk(name: str, f: BinaryIO, size: int) -> bytes:
    try:
        reader = getattr(f, "read1", None)  # returns what is there, without waiting for `size` bytes
        return bytes(reader(size) if reader is not None else f.read(size))
    except OSError as e:
        raise ReadError(f"{shown(name)}: {os_error_text(e)}") from None


def read_bytes(name: str, *, limit: Optional[int] = None) -> bytes:
    """The whole content of file `name`, or of standard input for "-"; `ReadError` for a
    source that cannot be opened or read (see the module's docstring) and for content
    past `limit` bytes, which is refused as soon as the read passes it."""
    f = _open(name)
    try:
        chunks: List[bytes] = []
        size = 0
        while True:
            chunk = _chunk(name, f, CHUNK)
            if not chunk:
                return b"".join(chunks)
            size += len(chunk)
            if limit is not None and size > limit:
                raise ReadError(f"{shown(name)}: longer than {limit} bytes: it is not read")
            chunks.append(chunk)
    finally:
        _close(name, f)


def iter_lines(name: str, *, max_line: int = MAX_LINE) -> Iterator[bytes]:
    """The lines of `name` (or standard input for "-") as a stream, each without its line
    ending (a line feed, and a carriage return right before it or at the very end); a text
    that ends with a line feed has no empty last line. Memory is bounded by the longest
    line; `ReadError` for a line longer than `max_line` bytes and the failures of
    `read_bytes`."""
    f = _open(name)
    try:
        number = 0
        pending: List[bytes] = []  # the start of the current line, over several chunks
        pending_size = 0
        while True:
            chunk = _chunk(name, f, CHUNK)
            if not chunk:
                break
            start = 0
            while True:
                end = chunk.find(b"\n", start)
                if end < 0:
                    break
                number += 1
                if pending_size + end - start > max_line:
                    raise ReadError(f"{shown(name)}:{number}: line longer than {max_line} bytes")
                line = chunk[start:end]
                if pending:
                    line = b"".join(pending) + line
                    pending, pending_size = [], 0
                yield line[:-1] if line.endswith(b"\r") else line
                start = end + 1
            if start < len(chunk):
                pending.append(chunk[start:])
                pending_size += len(chunk) - start
                if pending_size > max_line:
                    raise ReadError(f"{shown(name)}:{number + 1}: line longer than {max_line} bytes")
        if pending:
            line = b"".join(pending)
            yield line[:-1] if line.endswith(b"\r") else line
    finally:
        _close(name, f)


def utf8_position(data: bytes) -> Optional[Tuple[int, int, int]]:
    """Where the first byte of `data` that is not UTF-8 stands, as (line, column, byte),
    line and column counted from 1 (columns in characters); None for valid UTF-8."""
    try:
        data.decode("utf-8")
        return None
    except UnicodeDecodeError as e:
        bad = e.start
    line_start = data.rfind(b"\n", 0, bad) + 1
    column = len(data[line_start:bad].decode("utf-8")) + 1
    return data.count(b"\n", 0, bad) + 1, column, data[bad]


def utf8_hint(data: bytes) -> str:
    """" (line L, column C: byte 0xNN)" for the first byte of `data` that is not UTF-8."""
    position = utf8_position(data)
    if position is None:
        return ""
    line, column, byte = position
    return f" (line {line}, column {column}: byte 0x{byte:02x})"


def read_text(name: str, *, limit: Optional[int] = None) -> str:
    """The content of `name` as `read_bytes` reads it, decoded from UTF-8; content that
    is not UTF-8 is refused with the module's message and where the first bad byte is."""
    data = read_bytes(name, limit=limit)
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        raise ReadError(f"{shown(name)}: stream did not contain valid UTF-8{utf8_hint(data)}") from None
