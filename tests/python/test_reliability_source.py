"""Loading directive sources under signals, threads and forks.

Every scenario runs in a child process under a time limit, so that a hang or
a deadlock fails its test instead of stalling the suite.
"""
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

UNDER_ASAN = "asan" in os.environ.get("LD_PRELOAD", "")
LIMIT = 90 if UNDER_ASAN else 30  # seconds a whole scenario may take
PROMPT = 10  # seconds a load may take to stop once it is interrupted


class Child:
    """A Python child process running `code`, with a pipe on its standard
    input; killed when it outlives LIMIT."""

    def __init__(self, code, env=None):
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), **(env or {}))
        # A suite started in the background inherits SIGINT ignored: the
        # child takes Ctrl-C as an interactive interpreter does.
        code = "import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n" + textwrap.dedent(code)
        self.proc = subprocess.Popen([sys.executable, "-c", code], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.hung = False
        self.watchdog = threading.Timer(LIMIT, self.kill)
        self.watchdog.start()

    def kill(self):
        self.hung = True
        self.proc.kill()

    def expect(self, line):
        got = self.proc.stdout.readline().decode()
        assert got == line + "\n", self.proc.stderr.read().decode() if not got else got

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def signal(self, sig, after=0.3):
        time.sleep(after)  # let the child block where the scenario wants it
        self.proc.send_signal(sig)

    def close_input(self):
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass

    def finish(self, timeout=LIMIT, close_input=True):
        """Gives (exit code, output) once the child has ended, after closing
        its input unless told not to; a child still running after `timeout`
        seconds fails the test."""
        if close_input:
            self.close_input()
        try:
            rc = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            rc = None
        self.watchdog.cancel()
        if rc is None:
            self.kill()
            self.proc.wait()
        out, err = self.proc.stdout.read().decode(), self.proc.stderr.read().decode()
        self.proc.stdout.close()
        self.proc.stderr.close()
        assert not self.hung, f"the child hung; output {out!r}, errors {err[-2000:]!r}"
        return rc, out


# --- the standard-input lock -----------------------------------------------------

# A child reads standard input on its main thread; a SIGUSR1 handler runs
# inside that read. The handler may start threads (listed in `threads`,
# joined before the end) and puts what it sees in `results`.
STDIN_CHILD = """
import os, signal, threading, time, _quorvel as q
results, threads = [], []

def read_stdin():
    try:
        results.append([str(d) for d in q.expand('@-')])
    except q.DirectiveError as e:
        results.append(str(e))

def fork_and_read():
    # The forked child reads an empty standard input of its own.
    pid = os.fork()
    if pid == 0:
        os.dup2(os.open(os.devnull, os.O_RDONLY), 0)
        try:
            os._exit(0 if q.expand('@-') == [] else 1)
        except q.DirectiveError as e:
            os._exit(2 if str(e) == '<stdin>: standard input is already being read' else 1)
    for _ in range(500):
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            code = os.waitstatus_to_exitcode(status)
            results.append({0: "read", 2: "refused"}.get(code, code))
            return
        time.sleep(0.01)
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    results.append("hung")

def in_thread(target):
    threads.append(threading.Thread(target=target))
    threads[-1].start()

def handler(signum, frame):
    HANDLER

signal.signal(signal.SIGUSR1, handler)
print("ready", flush=True)
outer = [str(d) for d in q.expand('@-')]
for t in threads:
    t.join()
print(outer, results, flush=True)
"""

STDIN_CASES = {
    # The handler gives up the interpreter lock while a second thread starts
    # reading: that thread must wait for standard input without the
    # interpreter lock, or neither can go on. It reads what is left: nothing.
    "a second thread reads": ("in_thread(read_stdin); time.sleep(0.5)", "[[]]"),
    # Reading inside one's own read must not take the middle of the input
    # (and so split a line): it fails at once.
    "the handler reads": ("read_stdin()", "['<stdin>: standard input is already being read']"),
    # A process that another thread forks during the read gets a lock that
    # nobody holds; one that the reading thread forks is still inside its
    # read there, and refuses a nested one as the parent does.
    "another thread forks": ("in_thread(fork_and_read); threads[-1].join()", "['read']"),
    "the handler forks": ("fork_and_read()", "['refused']"),
}


@pytest.mark.parametrize("case", STDIN_CASES)
def test_stdin_read_interrupted_by_a_handler(case):
    handler, results = STDIN_CASES[case]
    child = Child(STDIN_CHILD.replace("HANDLER", handler))
    child.send(b"allow:first\nallow:sec")
    child.expect("ready")
    child.signal(signal.SIGUSR1)
    time.sleep(1.0)
    child.send(b"ond\nallow:third\n")
    rc, out = child.finish()
    assert (rc, out) == (0, f"['allow:first', 'allow:second', 'allow:third'] {results}\n")


# --- interrupting a load -------------------------------------------------------

# Each source blocks or never ends: the value to load, and the set-up it needs.
BLOCKING_SOURCES = {
    "FIFO without a writer": ("'@' + fifo", ""),
    "FIFO whose writer is silent": ("'@' + fifo", "writer = os.open(fifo, os.O_RDWR)"),
    "/dev/fd of a stalled pipe": ("f'@/dev/fd/{r}'", "os.write(w, b'allow:a\\nallow:b')"),
    "/dev/zero": ("'@/dev/zero'", ""),
    "standard input that keeps flowing": ("'@-'", ""),
}


@pytest.mark.parametrize("source", BLOCKING_SOURCES)
def test_ctrl_c_stops_the_load_promptly(source, tmp_path):
    value, setup = BLOCKING_SOURCES[source]
    # An endless source must not eat the machine's memory when the interrupt
    # is missed.
    env = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":hard_rss_limit_mb=4096"} if UNDER_ASAN else {}
    child = Child(f"""
        import os, resource, sys, _quorvel as q
        if not {UNDER_ASAN}:
            resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
        fifo = {str(tmp_path / "fifo")!r}
        os.mkfifo(fifo)
        r, w = os.pipe()
        {setup}
        value = {value}
        print("ready", flush=True)
        try:
            got = q.expand(value)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            sys.exit(3)
        print("returned", len(got), flush=True)
    """, env=env)
    child.expect("ready")
    feeding = source == "standard input that keeps flowing"
    if feeding:
        # Faster than a slow reader drains it, so the pipe stays full.
        stop = threading.Event()

        def feed():
            chunk = b"allow:x\n" * (1 << 17)
            try:
                for _ in range(512):
                    if stop.is_set():
                        return
                    child.send(chunk)
                    time.sleep(0.005)
            except (BrokenPipeError, ValueError):
                pass

        feeder = threading.Thread(target=feed)
        feeder.start()
    child.signal(signal.SIGINT, after=1.0 if feeding else 0.3)
    try:
        # A flowing input stays open: its end would let a load that missed
        # the interrupt return normally.
        rc, out = child.finish(timeout=PROMPT, close_input=not feeding)
    finally:
        if feeding:
            stop.set()
            feeder.join()
            child.close_input()
    assert (rc, out) == (3, "interrupted\n")
