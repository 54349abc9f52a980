#include <gtest/gtest.h>

#include "core/text/text.hpp"

namespace quorvel::core::text {
namespace {

TEST(Text, QuotedForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "\"\""},
      {"deny", "\"deny\""},
      {"\t\n\r\"\\'", "\"\\t\\n\\r\\\"\\\\'\""},
      {"\x7f", "\"\\u{7f}\""},
      {"\xC2\xA0", "\"\\u{a0}\""},           // no-break space (Zs)
      {"\xCC\x81", "\"\\u{301}\""},          // combining acute (Grapheme_Extend)
      {"\xC3\xA9", "\"\xC3\xA9\""},          // é is printable
      {"\xE2\x80\x8B", "\"\\u{200b}\""},     // zero width space (Cf)
      {"\xE2\x80\xA8", "\"\\u{2028}\""},     // line separator (Zl)
      {"\xEE\x80\x80", "\"\\u{e000}\""},     // private use (Co)
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},  // emoji: printable
      {"\xF3\xA0\x80\x80", "\"\\u{e0000}\""},        // unassigned (Cn)
      {"\xE2\x80\x8D", "\"\\u{200d}\""},             // ZWJ: Cf
      {" ", "\" \""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(quoted(in), want) << in;
  EXPECT_EQ(quoted(std::string_view("a\0b", 3)), "\"a\\0b\"");
}

TEST(Text, TrimIsExactlyWhiteSpace) {
  EXPECT_EQ(trim(" \t\n\v\f\r x \xC2\x85\xC2\xA0\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8\xE2\x80\xA9"
                 "\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80"),
            "x");
  // Zero width space and the byte-order mark are not White_Space.
  EXPECT_EQ(trim("\xE2\x80\x8Bx\xEF\xBB\xBF"), "\xE2\x80\x8Bx\xEF\xBB\xBF");
  EXPECT_EQ(trim_start("  a "), "a ");
  EXPECT_EQ(trim_end("  a "), "  a");
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim("\xC2\xA0"), "");
}

TEST(Text, Utf8Validation) {
  EXPECT_TRUE(valid_utf8("plain ascii text, long enough for the fast path"));
  EXPECT_TRUE(valid_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3",
                          "abcdefgh\xFF", "\xF8\x88\x80\x80\x80"}) {
    EXPECT_FALSE(valid_utf8(bad)) << bad;
  }
  EXPECT_EQ(lossy_utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(lossy_utf8("\xE2\x82"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvel::core::text
