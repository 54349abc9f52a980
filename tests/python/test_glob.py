"""glob_match: the glob dialect, byte by byte, with brace alternatives."""
import pytest

from _quorvel import glob_match

CASES = [
    # stars, question marks, whole-text anchoring
    ("*", "", True), ("*", "a/b/c", True), ("**", "", True), ("a*", "a", True), ("a*", "abc", True),
    ("*a", "ab", False), ("a*b*c", "abxbc", True), ("", "", True), ("", "x", False), ("?", "", False),
    ("?", "é", False), ("??", "é", True), ("A*", "abc", False), ("*.py", "pkg/mod.py", True),
    ("src/**/*.rs", "src/main.rs", False), ("src/**/*.rs", "src/a/main.rs", True), ("test_*", "test_x", True),
    # classes
    ("[é]", "é", False), ("[é]?", "é", True), ("[!a]", "b", True), ("[!a]", "a", False), ("[^a]", "^", True),
    ("[^a]", "a", True), ("[]]", "]", True), ("[!]]", "]", False), ("[!]]", "x", True), ("[]a]", "a", True),
    ("[]", "[]", True), ("[!]", "[!]", True), ("[abc", "[abc", True), ("[", "[", True), ("[a-]", "-", True),
    ("[-a]", "a", True), ("[a-c-e]", "b", True), ("[a-c-e]", "-", True), ("[a-c-e]", "d", False),
    ("[z-a]", "z", False), ("[a\\-z]", "-", True), ("[a\\-z]", "b", False), ("[\\]]", "]", True),
    ("[a\\]", "[a]", True), ("[\\--0]", "/", True), ("[!_]*", "_x", False), ("[!_]*", "x_", True),
    ("[[*", "[[anything", True),
    # escapes
    ("\\*", "*", True), ("\\*", "x", False), ("\\\\", "\\", True), ("a\\", "a\\", True),
    # brackets that straddle braces: a class closing at a `]` that a group's choice holds
    ("{,[}a][b{],}", "ab", True), ("{,[}a][b{],}", "a[b", True), ("{,[}a][b{],}", "a]b", True),
    ("[a][b{],}", "ab", True), ("[{a],x}b]", "ab]", True), ("[{a],x}b]", "x", True), ("[{a],x}b]", "a", False),
    # braces
    ("{a,b}", "b", True), ("{a}", "a", True), ("{}", "", True), ("a{}b", "ab", True), ("{a,}", "", True),
    ("{,}", "", True), ("{a,{b,c}}", "{b}", True), ("{a,{b,c}}", "c}", True), ("{a,{b,c}}", "b", False),
    ("\\{a,b}", "{a,b}", True), ("\\{a,b}", "a", False), ("{a\\,b,c}", "a,b", True), ("{a,b", "{a,b", True),
    ("a}b", "a}b", True), ("abc{", "abc{", True), ("a}{b,c}", "a}c", True), ("[{a,b}]", "b", True),
    ("[{]", "{", True), ("{src,lib}/*.{c,h}", "src/x.c", True), ("{src,lib}/*.{c,h}", "src/x.o", False),
]


@pytest.mark.parametrize("pattern,text,expected", CASES)
def test_glob_match(pattern, text, expected):
    assert glob_match(pattern, text) is expected


def test_brace_cap():
    ten = "{a,b}" * 10
    assert glob_match(ten, "ab" * 5) is True
    eleven = ten + "{a,b}"
    assert glob_match(eleven, "a" * 11) is False
    assert glob_match(eleven, eleven) is True  # taken literally past the cap
    six4 = "{a,b,c,d,e,f}" * 4
    assert glob_match(six4, "abcd") is False
    assert glob_match(six4, six4) is True


def test_many_single_choice_groups():
    assert glob_match("{a}" * 100000, "a" * 100000) is True


@pytest.mark.parametrize("pattern", ["plain", "a-b.c", "é/ü", "x y", "", "@=:<>", "💡"])
def test_patterns_without_metacharacters_match_themselves(pattern):
    assert glob_match(pattern, pattern) is True
    assert glob_match(pattern, pattern + "x") is False


@pytest.mark.parametrize("length", [0, 1, 127, 128, 129, 1000])
@pytest.mark.parametrize("char", ["a", "é", "€", "💡"])
def test_text_conversion_at_every_length(length, char):
    text = char * length
    assert glob_match(text, text) is True
    assert glob_match("?" * len(text.encode()), text) is True
    assert glob_match(text + "*", text + "x") is True
    with pytest.raises(UnicodeEncodeError):
        glob_match(text + "\udfff", text)
    with pytest.raises(UnicodeEncodeError):
        glob_match("*", "\ud800" + text)
