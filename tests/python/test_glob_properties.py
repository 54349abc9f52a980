"""glob_match against the simple reference matcher, on generated patterns."""
from hypothesis import HealthCheck, given, settings, strategies as st

from _quorvel import Ladder, glob_match, lint_fold, parse
from glob_reference import expand, glob_match as reference

# Pieces that exercise every metacharacter, brace groups and class edges.
PIECES = ["a", "b", "é", "*", "?", "[", "]", "!", "-", "\\", "{", "}", ",", "[ab]", "[!a]", "[a-c]",
          "{a,b}", "{,*}", "{a,[}", "x]", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"]
patterns = st.lists(st.sampled_from(PIECES), max_size=25).map("".join)
texts = st.text(alphabet="ab[]*-é{},\\", max_size=80)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(patterns, texts)
def test_agrees_with_reference(pattern, text):
    want = reference(pattern, text)
    assert glob_match(pattern, text) is want
    # The same pattern compiled once, as a directive's NAME.
    if pattern:
        assert parse("allow:" + pattern).matches([text]) is want


@settings(max_examples=400, deadline=None)
@given(patterns, st.data())
def test_texts_built_from_the_pattern(pattern, data):
    # Texts made of the pattern's own alternatives match often, which random
    # texts seldom do.
    alts = expand(pattern.encode()) or [pattern.encode()]
    alt = data.draw(st.sampled_from(alts)).decode("utf-8", "replace")
    text = "".join(data.draw(st.sampled_from(["", "a", "[", "ab"])) if c in "*?[" else c
                   for c in alt.replace("\\", ""))
    assert glob_match(pattern, text) is reference(pattern, text)


# Brackets and braces interleaved: a `[` before a group whose choice holds a
# `]`, classes that open in one alternative and close in another, groups
# nested inside classes, with escapes, ranges and `!`.
INTERLEAVED = ["[", "[!", "]", "{", "}", ",", "\\", "a", "b", "-", "*", "?", "!", "{]", "[{", ",]", "]}",
               "{,", "a-b", "{a,]}", "[{,]}", "\\]", "{a,b}", "[ab]"]


@settings(max_examples=500, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.sampled_from(INTERLEAVED), min_size=1, max_size=12).map("".join), st.data())
def test_interleaved_brackets_and_braces(pattern, data):
    alts = expand(pattern.encode()) or [pattern.encode()]
    alt = data.draw(st.sampled_from(alts)).decode()
    text = "".join(data.draw(st.sampled_from(["", "a", "]", "ab"])) if c in "*?" else c
                   for c in alt.replace("\\", "").replace("[", data.draw(st.sampled_from(["[", ""]))))
    want = reference(pattern, text)
    assert glob_match(pattern, text) is want
    if len(pattern) - len(pattern.rstrip("\\")) % 2:
        return  # a trailing backslash would escape the delimiter after NAME
    assert parse("allow:" + pattern).matches([text]) is want
    assert parse("allow:x@" + pattern).matches(["x"], scopes=[text]) is want
    assert lint_fold("warning", [parse("suppress:" + pattern)], [text])[1] is want
    assert Ladder(["low", "high"]).fold("low", [parse("up:" + pattern)], [text], steps={"up": 1})[0] == (
        "high" if want else "low")
