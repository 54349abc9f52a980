// `-D` values and directive files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "source/cli.hpp"

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

// Lines of a load: "origin text-form" each, or "error: message".
std::string describe(const file::Loaded& r) {
  if (!r.ok()) return "error: " + r.error().message();
  std::string out;
  for (const auto& s : r.value()) {
    out += s.origin.display() + " " + core::directive::text_form(s.directive) + "\n";
  }
  return out;
}

TEST(Source, FileFormat) {
  const std::pair<std::string, std::string> cases[] = {
      {"# header\n\n  allow:a  \n", "F:3 allow:a\n"},
      {"# header\n\n  allow:a  \nbad\n", "error: F:4: expected `ACTION:\xE2\x80\xA6` (no `:` found)"},
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
      {"ok:1\n:bad\n", "error: F:2: empty action"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(describe(file::parse_str(text, "F")), want) << text;
}

TEST(Source, InlineValues) {
  EXPECT_EQ(describe(cli::expand("allow:foo")), "<inline> allow:foo\n");
  EXPECT_EQ(describe(cli::expand("")), "error: <inline>: expected `ACTION:\xE2\x80\xA6` (no `:` found)");
  EXPECT_EQ(describe(cli::expand(" @rules")), "error: <inline>: expected `ACTION:\xE2\x80\xA6` (no `:` found)");
}

TEST(Source, Files) {
  const std::string good = temp_file("allow:a\n# c\ndeny:b=why\n");
  EXPECT_EQ(describe(cli::expand("@" + good)), good + ":1 allow:a\n" + good + ":3 deny:b=why\n");
  const std::string bad_utf8 = temp_file("allow:a\nallow:\xFF\n");
  EXPECT_EQ(describe(cli::expand("@" + bad_utf8)), "error: " + bad_utf8 + ": stream did not contain valid UTF-8");
  EXPECT_EQ(describe(cli::expand("@")), "error: : No such file or directory (os error 2)");
  EXPECT_EQ(describe(cli::expand("@/tmp")), "error: /tmp: Is a directory (os error 21)");
  EXPECT_EQ(describe(cli::expand(std::string("@a\0b", 4))), std::string("error: a\0b", 10) +
                                                                ": file name contained an unexpected NUL byte");
  EXPECT_EQ(describe(cli::expand("@/nonexistent/--")),
            "error: /nonexistent/--: No such file or directory (os error 2)");
  EXPECT_EQ(describe(cli::expand("@/dev/null")), "");
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
  EXPECT_EQ(describe(cli::expand("@--")), "--:1 from:file\n");
  EXPECT_EQ(describe(cli::expand("@ -")), " -:1 from:file\n");
  EXPECT_EQ(describe(cli::expand("@@x")), "@x:1 from:file\n");
  EXPECT_EQ(describe(cli::expand("@-x")), "-x:1 from:file\n");
  for (const char* name : {"--", " -", "@x", "-x"}) std::remove(name);
  ASSERT_EQ(chdir("/"), 0);
  rmdir(dir);
}

TEST(Source, Stdin) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string input = "a:x\n\nb:y=z\n";
  ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fds[1]);
  const int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  EXPECT_EQ(describe(cli::expand("@-")), "<stdin>:1 a:x\n<stdin>:3 b:y=z\n");
  EXPECT_EQ(describe(cli::expand("@-")), "");  // consumed
  dup2(saved, 0);
  close(saved);
}

}  // namespace
}  // namespace quorvel::source
