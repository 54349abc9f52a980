"""glob_match against the simple reference matcher, on generated patterns."""
from hypothesis import HealthCheck, given, settings, strategies as st

from _quorvel import glob_match, parse
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
