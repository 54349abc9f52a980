// A deliberately simple glob matcher, written apart from the engine and used
// only by tests, fuzzing and benchmarks: multiply the brace alternatives out,
// tokenize each one, and match it with the textbook table of tokens x bytes.
// Nothing here is fast; everything here is easy to check by eye.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::reference {

// The first `c` at or after `from` that no backslash escapes, or npos.
inline std::size_t find_plain(std::string_view s, std::size_t from, std::size_t end, char c) {
  for (std::size_t i = from; i < end; ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == c) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Brace expansion as a recursion on the first group: prefix, choices, and
// the expanded suffix; nothing past 1024 alternatives.
inline std::optional<std::vector<std::string>> expand(std::string_view s) {
  const std::size_t open = find_plain(s, 0, s.size(), '{');
  if (open == std::string_view::npos || open + 1 == s.size()) return std::vector<std::string>{std::string(s)};
  const std::size_t close = find_plain(s, open + 1, s.size(), '}');
  if (close == std::string_view::npos) return std::vector<std::string>{std::string(s)};
  const auto rest = expand(s.substr(close + 1));
  if (!rest) return std::nullopt;
  std::vector<std::string> choices;
  std::size_t start = open + 1;
  for (;;) {
    const std::size_t comma = find_plain(s, start, close, ',');
    if (comma == std::string_view::npos) break;
    choices.emplace_back(s.substr(start, comma - start));
    start = comma + 1;
  }
  choices.emplace_back(s.substr(start, close - start));
  if (choices.size() * rest->size() > 1024) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& c : choices) {
    for (const auto& r : *rest) out.push_back(std::string(s.substr(0, open)) + c + r);
  }
  return out;
}

// One token: kind 's' star, '?' any, 'l' literal, 'c' class (with members).
struct Token {
  char kind;
  unsigned char byte;
  bool member[256];
};

// The tokens of one alternative, read exactly as the dialect describes.
inline std::vector<Token> tokens(std::string_view a) {
  std::vector<Token> out;
  std::size_t i = 0;
  const std::size_t n = a.size();
  auto lit = [&](unsigned char b) {
    Token t{'l', b, {}};
    out.push_back(t);
  };
  while (i < n) {
    const char c = a[i];
    if (c == '*') {
      out.push_back(Token{'s', 0, {}});
      ++i;
    } else if (c == '?') {
      out.push_back(Token{'?', 0, {}});
      ++i;
    } else if (c == '\\') {
      if (i + 1 < n) {
        lit(static_cast<unsigned char>(a[i + 1]));
        i += 2;
      } else {
        lit('\\');
        ++i;
      }
    } else if (c == '[') {
      // Elements: (is_dash, byte).
      std::size_t j = i + 1;
      bool neg = false;
      if (j < n && a[j] == '!') {
        neg = true;
        ++j;
      }
      std::vector<std::pair<bool, unsigned char>> el;
      bool closed = false;
      bool first = true;
      while (j < n) {
        const char e = a[j];
        if (e == ']' && !first) {
          closed = true;
          ++j;
          break;
        }
        first = false;
        if (e == '-') {
          el.push_back({true, '-'});
          ++j;
        } else if (e == '\\' && j + 1 < n) {
          el.push_back({false, static_cast<unsigned char>(a[j + 1])});
          j += 2;
        } else {
          el.push_back({false, static_cast<unsigned char>(e)});
          ++j;
        }
      }
      if (!closed) {
        lit('[');
        ++i;
        continue;
      }
      Token t{'c', 0, {}};
      for (std::size_t k = 0; k < el.size();) {
        if (!el[k].first && k + 2 < el.size() && el[k + 1].first && !el[k + 2].first) {
          for (unsigned b = el[k].second; b <= el[k + 2].second; ++b) t.member[b] = true;
          k += 3;
        } else {
          t.member[el[k].second] = true;
          ++k;
        }
      }
      if (neg) {
        for (bool& m : t.member) m = !m;
      }
      out.push_back(t);
      i = j;
    } else {
      lit(static_cast<unsigned char>(c));
      ++i;
    }
  }
  return out;
}

// The textbook table: ok[j] after i bytes says whether the first j tokens
// match the first i bytes. A star matches the empty run (ok[j] from ok[j-1])
// or one more byte (from the row before); any other token takes one byte.
inline bool match_alt(const std::vector<Token>& t, std::string_view s) {
  const std::size_t n = t.size();
  std::vector<bool> ok(n + 1, false);
  ok[0] = true;
  for (std::size_t j = 1; j <= n; ++j) ok[j] = ok[j - 1] && t[j - 1].kind == 's';
  for (const char ch : s) {
    const auto b = static_cast<unsigned char>(ch);
    std::vector<bool> next(n + 1, false);
    for (std::size_t j = 1; j <= n; ++j) {
      const Token& k = t[j - 1];
      if (k.kind == 's') {
        next[j] = next[j - 1] || ok[j];
      } else {
        next[j] = ok[j - 1] && (k.kind == '?' || (k.kind == 'l' && k.byte == b) || (k.kind == 'c' && k.member[b]));
      }
    }
    ok = std::move(next);
  }
  return ok[n];
}

// Whether `text` matches `pattern`: any alternative, or past the cap the
// source itself.
inline bool glob_match(std::string_view pattern, std::string_view text) {
  const auto alts = expand(pattern);
  if (!alts) return match_alt(tokens(pattern), text);
  for (const auto& a : *alts) {
    if (match_alt(tokens(a), text)) return true;
  }
  return false;
}

}  // namespace quorvel::reference
