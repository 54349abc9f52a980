// `-D` values, directive files, reading and the standard-input lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "source/cli.hpp"
#include "source/file.hpp"
#include "source/read.hpp"

namespace quorvel::source {
namespace {

std::string temp_file(const std::string& content) {
  char path[] = "/tmp/quorvel_src_XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  close(fd);
  return path;
}

// A test-side collector: "origin text-form" per directive, then
// "error: message" when the load failed.
struct Collector {
  std::string name;  // the origin's name; empty for an inline value
  std::string out;

  OnDirective sink() {
    return [this](core::directive::Directive<>&& d, std::uint64_t line) {
      out += (line == 0 ? std::string("<inline>") : name + ":" + std::to_string(line)) + " " +
             core::directive::text_form(d) + "\n";
      return true;
    };
  }
  std::string finish(const std::optional<SourceError>& error) {
    return error ? out + "error: " + error->message() : out;
  }
};

// Loads `value` with the given interrupt check and describes the result.
std::string describe(std::string_view value, InterruptCheck check = {}) {
  Collector c;
  if (value.size() > 1 && value.front() == '@') c.name = value.substr(1) == "-" ? "<stdin>" : value.substr(1);
  const Hooks hooks{c.sink(), std::move(check), {}};
  return c.finish(cli::expand(value, hooks));
}

TEST(Source, FileFormat) {
  const std::pair<std::string, std::string> cases[] = {
      {"# header\n\n  allow:a  \n", "F:3 allow:a\n"},
      {"# header\n\n  allow:a  \nbad\n", "F:3 allow:a\nerror: F:4: expected `ACTION:\xE2\x80\xA6` (no `:` found)"},
      {"a:x\r\n\r\nb:y\r\n", "F:1 a:x\nF:3 b:y\n"},
      {"a:x\rb:y\r", "F:1 a:x\rb:y\n"},
      {"\xEF\xBB\xBF" "a:x\n\xEF\xBB\xBF" "b:y", "F:1 a:x\nF:2 \xEF\xBB\xBF" "b:y\n"},
      {"  # note\nallow:a # note\n", "F:2 allow:a # note\n"},
      {"allow:a\\\nb:c", "F:1 allow:a\\\nF:2 b:c\n"},
      {"@other:x\n", "F:1 @other:x\n"},
      {"", ""},
      {"\n\n   \n# only comments\n", ""},
      {"a:x=note \t\n", "F:1 a:x=note\n"},
      {"a:x\n\n", "F:1 a:x\n"},
      // What came before a failure is handed over; the caller drops it.
      {"ok:1\n:bad\n", "F:1 ok:1\nerror: F:2: empty action"},
  };
  for (const auto& [text, want] : cases) {
    Collector c{"F", {}};
    EXPECT_EQ(c.finish(file::parse_lines(text, "F", c.sink(), {})), want) << text;
  }
}

TEST(Source, InlineValues) {
  EXPECT_EQ(describe("allow:foo"), "<inline> allow:foo\n");
  EXPECT_EQ(describe(""), "error: <inline>: expected `ACTION:\xE2\x80\xA6` (no `:` found)");
  EXPECT_EQ(describe(" @rules"), "error: <inline>: expected `ACTION:\xE2\x80\xA6` (no `:` found)");
}

TEST(Source, Files) {
  const std::string good = temp_file("allow:a\n# c\ndeny:b=why\n");
  EXPECT_EQ(describe("@" + good), good + ":1 allow:a\n" + good + ":3 deny:b=why\n");
  const std::string bad_utf8 = temp_file("allow:a\nallow:\xFF\n");
  EXPECT_EQ(describe("@" + bad_utf8), "error: " + bad_utf8 + ": stream did not contain valid UTF-8");
  EXPECT_EQ(describe("@"), "error: : No such file or directory (os error 2)");
  EXPECT_EQ(describe("@/tmp"), "error: /tmp: Is a directory (os error 21)");
  EXPECT_EQ(describe(std::string("@a\0b", 4)),
            std::string("error: a\0b", 10) + ": file name contained an unexpected NUL byte");
  EXPECT_EQ(describe("@/nonexistent/--"), "error: /nonexistent/--: No such file or directory (os error 2)");
  EXPECT_EQ(describe("@/dev/null"), "");
  std::remove(good.c_str());
  std::remove(bad_utf8.c_str());
}

TEST(Source, PathIsVerbatim) {
  // «@--» names the file «--», «@ -» the file « -», «@@x» the file «@x».
  char dir[] = "/tmp/quorvel_dir_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  for (const char* name : {"--", " -", "@x", "-x"}) {
    std::ofstream(name) << "from:file\n";
  }
  EXPECT_EQ(describe("@--"), "--:1 from:file\n");
  EXPECT_EQ(describe("@ -"), " -:1 from:file\n");
  EXPECT_EQ(describe("@@x"), "@x:1 from:file\n");
  EXPECT_EQ(describe("@-x"), "-x:1 from:file\n");
  for (const char* name : {"--", " -", "@x", "-x"}) std::remove(name);
  ASSERT_EQ(chdir("/"), 0);
  rmdir(dir);
}

// Puts the read end of a new pipe on descriptor 0 for the life of the object
// and gives the write end.
struct PipeOnStdin {
  int saved = dup(0);
  int writer = -1;
  PipeOnStdin() {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    close(fds[0]);
    writer = fds[1];
  }
  void send(const std::string& s) { EXPECT_EQ(write(writer, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void end() {
    if (writer >= 0) close(writer);
    writer = -1;
  }
  ~PipeOnStdin() {
    end();
    dup2(saved, 0);
    close(saved);
  }
};

TEST(Source, Stdin) {
  PipeOnStdin in;
  in.send("a:x\n\nb:y=z\n");
  in.end();
  EXPECT_EQ(describe("@-"), "<stdin>:1 a:x\n<stdin>:3 b:y=z\n");
  EXPECT_EQ(describe("@-"), "");  // consumed
}

TEST(Source, PipeReadsEveryByteInOrder) {
  // Far more than one pipe buffer, in writes of odd sizes.
  std::string data;
  for (std::uint64_t i = 0; data.size() < (std::size_t{12} << 20); ++i) {
    data += "allow:n" + std::to_string(i * 7919) + "\n";
  }
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (std::size_t pos = 0; pos < data.size();) {
      const ssize_t n = write(fds[1], data.data() + pos, std::min<std::size_t>(data.size() - pos, 4093));
      ASSERT_GT(n, 0);
      pos += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  int checks = 0;
  auto got = read_fd(fds[0], [&] { return ++checks, false; });
  writer.join();
  close(fds[0]);
  ASSERT_TRUE(got.ok());
  EXPECT_TRUE(got.value().view() == data);
  EXPECT_GE(checks, 3);  // once before blocking, then every few MiB
}

TEST(Source, EndlessSourceStopsAtTheCheck) {
  // /dev/zero never blocks and never ends: only the check can stop it.
  for (const char* value : {"@/dev/zero", "@/dev/fd/100"}) {
    const int zero = open("/dev/zero", O_RDONLY);
    ASSERT_EQ(dup2(zero, 100), 100);
    close(zero);
    int checks = 0;
    EXPECT_EQ(describe(value, [&] { return ++checks == 4; }), std::string("error: ") + (value + 1) + ": interrupted");
    EXPECT_EQ(checks, 4);
    close(100);
  }
}

TEST(Source, ParsingLongTextAsksTheCheck) {
  std::string text;
  while (text.size() < (std::size_t{9} << 20)) text += "# filler line of a comment\n";
  text += "allow:last\n";
  int checks = 0;
  Collector c{"F", {}};
  const auto error = file::parse_lines(text, "F", c.sink(), [&] { return ++checks == 2; });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->message(), "F: interrupted");
  EXPECT_EQ(c.out, "");
}

TEST(Source, SinkStopsTheLoad) {
  const std::string path = temp_file("a:1\nb:2\nc:3\n");
  int seen = 0;
  const Hooks hooks{[&](core::directive::Directive<>&&, std::uint64_t) { return ++seen < 2; }, {}, {}};
  const auto error = cli::expand("@" + path, hooks);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->reason, Reason::Interrupted);
  EXPECT_EQ(seen, 2);
  const Hooks inline_hooks{[](core::directive::Directive<>&&, std::uint64_t) { return false; }, {}, {}};
  EXPECT_EQ(cli::expand("a:1", inline_hooks)->message(), "<inline>: interrupted");
  std::remove(path.c_str());
}

std::atomic<bool> g_signalled{false};
void note_signal(int) { g_signalled = true; }

// Runs `value` on a thread that blocks, sends that thread signals until the
// load ends, and gives the description. The handler only notes the signal,
// as the interpreter's does; the check then says stop.
std::string interrupt_blocked(const std::string& value) {
  struct sigaction sa {};
  struct sigaction old {};
  sa.sa_handler = note_signal;  // no SA_RESTART: blocking calls see EINTR
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, &old);
  g_signalled = false;
  std::atomic<bool> done{false};
  std::string out;
  std::thread t([&] {
    out = describe(value, [] { return g_signalled.load(); });
    done = true;
  });
  for (int i = 0; i < 200 && !done; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(t.native_handle(), SIGUSR1);
  }
  t.join();
  sigaction(SIGUSR1, &old, nullptr);
  return out;
}

TEST(Source, SignalsEndBlockedOpensAndReads) {
  char dir[] = "/tmp/quorvel_fifo_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fifo = std::string(dir) + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // No writer: the open blocks.
  EXPECT_EQ(interrupt_blocked("@" + fifo), "error: " + fifo + ": interrupted");
  // A writer that sends part of a line and stalls: the read blocks.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "allow:a\nallow:b", 15), 15);
  const std::string dev = "/dev/fd/" + std::to_string(fds[0]);
  EXPECT_EQ(interrupt_blocked("@" + dev), "error: " + dev + ": interrupted");
  PipeOnStdin in;
  in.send("allow:a\n");
  EXPECT_EQ(interrupt_blocked("@-"), "error: <stdin>: interrupted");
  close(fds[0]);
  close(fds[1]);
  std::remove(fifo.c_str());
  rmdir(dir);
}

// Starts a thread that reads standard input through `value` and holds the
// standard-input lock until the pipe ends; returns once the lock is held.
struct Reader {
  std::atomic<bool> holding{false};
  std::string out;
  std::thread thread;
  Reader() {
    thread = std::thread([this] {
      out = describe("@-", [this] { return holding = true, false; });
    });
    while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

TEST(Source, NestedStdinReadFailsAtOnce) {
  // A read inside one's own read (a signal handler's, a finalizer's) fails
  // at once and leaves the whole input to the outer read.
  PipeOnStdin in;
  in.send("allow:first\nallow:sec");
  std::string nested, outer;
  std::atomic<bool> asked{false};
  std::thread t([&] {
    outer = describe("@-", [&] {
      if (!asked) nested = describe("@-");
      asked = true;
      return false;
    });
  });
  while (!asked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  in.send("ond\nallow:third\n");
  in.end();
  t.join();
  EXPECT_EQ(nested, "error: <stdin>: standard input is already being read");
  EXPECT_EQ(outer, "<stdin>:1 allow:first\n<stdin>:2 allow:second\n<stdin>:3 allow:third\n");
}

TEST(Source, SecondReaderWaitsThroughTheHook) {
  PipeOnStdin in;
  Reader first;
  int waits = 0;
  std::string second;
  std::thread t([&] {
    Collector c{"<stdin>", {}};
    const Hooks hooks{c.sink(), {}, [&](const std::function<bool()>& wait) { return ++waits, wait(); }};
    second = c.finish(cli::expand("@-", hooks));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  in.send("allow:a\n");
  in.end();
  first.thread.join();
  t.join();
  EXPECT_EQ(first.out, "<stdin>:1 allow:a\n");
  EXPECT_EQ(second, "");
  EXPECT_GE(waits, 2);  // bounded steps, not one endless wait
}

TEST(Source, WaitForStdinCanBeInterrupted) {
  PipeOnStdin in;
  Reader first;
  int checks = 0;
  EXPECT_EQ(describe("@-", [&] { return ++checks == 3; }), "error: <stdin>: interrupted");
  in.end();
  first.thread.join();
}

TEST(Source, ForkedChildStartsWithStdinFree) {
  PipeOnStdin in;
  Reader first;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    _exit(describe("@-").empty() ? 0 : 1);
  }
  int status = -1;
  for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (status == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child hung or failed: " << status;
  in.end();
  first.thread.join();
}

}  // namespace
}  // namespace quorvel::source
