// Core micro-benchmarks: brace expansion, compilation and matching, with the
// per-byte cost of matching.
#include <benchmark/benchmark.h>

#include <string>

#include "core/glob/brace.hpp"
#include "core/glob/pattern.hpp"
#include "core/parse/parse.hpp"

using namespace quorvel::core;

static void BM_ExpandBraces(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(glob::expand_braces_capped("{src,lib,test}/**/*.{c,h,cc,hh}"));
}
BENCHMARK(BM_ExpandBraces);

static void BM_CompilePlain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(glob::Pattern::compile("src/**/*.rs"));
}
BENCHMARK(BM_CompilePlain);

static void BM_CompileBraces(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(glob::Pattern::compile("{src,lib}/*.{c,h}"));
}
BENCHMARK(BM_CompileBraces);

static void BM_ParseDirective(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(parse::parse_as("suppress:<py>long-*@tests/**=legacy"));
}
BENCHMARK(BM_ParseDirective);

static void BM_MatchShort(benchmark::State& state) {
  const auto p = glob::Pattern::compile("*.py");
  for (auto _ : state) benchmark::DoNotOptimize(p.matches("pkg/module/file.py"));
}
BENCHMARK(BM_MatchShort);

// Per byte: a star pattern whose match scans the whole text.
static void BM_MatchPerByte(benchmark::State& state) {
  const auto p = glob::Pattern::compile("*a*b*c*.rs");
  const std::string text = std::string(static_cast<std::size_t>(state.range(0)), 'x') + "a_b_c_.rs";
  for (auto _ : state) benchmark::DoNotOptimize(p.matches(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MatchPerByte)->RangeMultiplier(10)->Range(10, 1000000);

// A long star segment that almost matches at every position: bit-parallel,
// (n / 64 + 1) word steps per byte, where the single-restart loop took n.
static void BM_MatchWorstCase(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::string src(1, '*');
  src.append(n, 'a');
  src += "?";
  const auto p = glob::Pattern::compile(src);
  const std::string text(10000, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(p.matches(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MatchWorstCase)->Arg(10)->Arg(100)->Arg(1000);

// A long class after a star: compiled once into a byte map, one test per live byte.
static void BM_MatchOnceLongClass(benchmark::State& state) {
  std::string pattern = "*[";
  pattern.append(static_cast<std::size_t>(state.range(0)), 'a');
  pattern += "]b";
  const std::string text(10000, 'x');
  for (auto _ : state) benchmark::DoNotOptimize(glob::match_once(pattern, text));
}
BENCHMARK(BM_MatchOnceLongClass)->Arg(10)->Arg(1000)->Arg(100000);

// Ten two-way groups (1024 alternatives) compiled and matched afresh, as glob_match does.
static void BM_MatchOnceTenGroups(benchmark::State& state) {
  std::string pattern;
  for (int i = 0; i < 10; ++i) pattern += "{a,b}";
  for (auto _ : state) benchmark::DoNotOptimize(glob::match_once(pattern, "ababababab"));
}
BENCHMARK(BM_MatchOnceTenGroups);

// A few alternatives on the short loop, as glob_match does.
static void BM_MatchOnceFewAlternatives(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(glob::match_once("{src,lib}/*.{c,h}", "lib/glob/x.h"));
}
BENCHMARK(BM_MatchOnceFewAlternatives);

// The alternative count does not multiply the cost: a star, a literal run and
// ten groups against a text of m bytes.
static void BM_MatchBracedStar(benchmark::State& state) {
  std::string src = "*" + std::string(1000, 'a');
  for (int i = 0; i < 10; ++i) src += "{b,c}";
  src += "?";
  const auto p = glob::Pattern::compile(src);
  const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
  for (auto _ : state) benchmark::DoNotOptimize(p.matches(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MatchBracedStar)->Arg(1000)->Arg(10000);

// Compiling a long braced pattern (the one heap block).
static void BM_CompileLongBraced(benchmark::State& state) {
  std::string src = "{a,b}{a,b}{a,b}{a,b}*" + std::string(static_cast<std::size_t>(state.range(0)), 'x') + "*.{c,h}";
  for (auto _ : state) benchmark::DoNotOptimize(glob::Pattern::compile(src));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_CompileLongBraced)->Arg(100)->Arg(100000);

BENCHMARK_MAIN();
