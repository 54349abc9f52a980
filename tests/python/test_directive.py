"""parse, the Directive class and Directive.matches."""
import gc
import weakref

import pytest

from _quorvel import Directive, DirectiveError, parse

MISSING_COLON = "expected `ACTION:…` (no `:` found)"

FIELDS = [
    # spec, action, kind, name, path, note, str
    ("allow:<fn>foo*@src/**=legacy code", "allow", "fn", "foo*", "src/**", "legacy code",
     "allow:<fn>foo*@src/**=legacy code"),
    ("allow: <*> foo", "allow", None, "foo", None, None, "allow:foo"),
    ("allow:foo@", "allow", None, "foo", "", None, "allow:foo@"),
    ("allow:foo=", "allow", None, "foo", None, "", "allow:foo="),
    ("allow:foo = because", "allow", None, "foo", None, " because", "allow:foo= because"),
    ("allow:<a\\>b>x", "allow", "a>b", "x", None, None, "allow:<a>b>x"),
    ("allow:<\\*>foo", "allow", "*", "foo", None, None, "allow:<*>foo"),
    ("a\\=b:c", "a\\=b", None, "c", None, None, "a\\=b:c"),
    ("allow: foo @ src/* = legacy code ", "allow", None, "foo", "src/*", " legacy code ",
     "allow:foo@src/*= legacy code "),
    ("allow:a@b@c", "allow", None, "a", "b@c", None, "allow:a@b@c"),
    ("allow:foo:bar", "allow", None, "foo:bar", None, None, "allow:foo:bar"),
    ("@rules:x", "@rules", None, "x", None, None, "@rules:x"),
]


@pytest.mark.parametrize("spec,action,kind,name,path,note,text", FIELDS)
def test_fields_and_text_form(spec, action, kind, name, path, note, text):
    d = parse(spec)
    assert (d.action, d.kind, d.name, d.path, d.note) == (action, kind, name, path, note)
    assert str(d) == text
    assert repr(d) == f"Directive({text})"


ERRORS = [
    ("", MISSING_COLON), ("allow foo", MISSING_COLON), ("@rules.txt", MISSING_COLON), ("a=b", MISSING_COLON),
    ("a=b:c", "`=` appeared before the action `:`"), (":foo", "empty action"), (" :foo", "empty action"),
    ("allow:<>foo", "empty `<>` kind filter"), ("allow:< >foo", "empty `<>` kind filter"),
    ("allow:", "empty name pattern"), ("allow:=note", "empty name pattern"),
    ("allow:<fn> @src", "empty name pattern"), ("allow:@src", "empty name pattern"),
]


@pytest.mark.parametrize("spec,message", ERRORS)
def test_parse_errors(spec, message):
    with pytest.raises(DirectiveError) as info:
        parse(spec)
    assert info.value.args == (message,)


def test_actions_filter():
    assert parse("allow:foo", actions={"allow"}).action == "allow"
    assert parse(" allow :foo", actions={"allow"}).action == "allow"
    with pytest.raises(DirectiveError) as info:
        parse("allow:foo", actions=frozenset())
    assert str(info.value) == 'unknown action "allow"; allowed: []'
    with pytest.raises(DirectiveError, match='^unknown action "Allow"'):
        parse("Allow:foo", actions={"allow"})
    with pytest.raises(DirectiveError) as info:
        parse("deny:x", actions={"warn", "allow", "Warn", "all"})
    assert str(info.value) == 'unknown action "deny"; allowed: ["Warn", "all", "allow", "warn"]'
    with pytest.raises(DirectiveError) as info:
        parse("a=b", actions={"x"})
    assert str(info.value) == MISSING_COLON


def test_allowed_tokens_are_quoted_and_sorted_by_bytes():
    with pytest.raises(DirectiveError) as info:
        parse("x\\y:z", actions={'q"uote', "back\\slash", "é", "z", "\u00a0", "\u0301"})
    assert str(info.value) == (
        'unknown action "x\\\\y"; allowed: ["back\\\\slash", "q\\"uote", "z", "\\u{a0}", "é", "\\u{301}"]'
    )


def test_class_cannot_be_instantiated():
    for make in (Directive, lambda: Directive.__new__(Directive), lambda: object.__new__(Directive)):
        with pytest.raises(TypeError):
            make()


def test_immutable_no_dict_no_weakref():
    d = parse("allow:foo=x")
    for attr in ("note", "action", "kind", "name", "path"):
        with pytest.raises(AttributeError):
            setattr(d, attr, "y")
        with pytest.raises(AttributeError):
            delattr(d, attr)
    with pytest.raises(AttributeError):
        d.other = 1
    assert not hasattr(d, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(d)


def test_identity_comparison_and_hash():
    a, b = parse("allow:foo"), parse("allow:foo")
    assert a != b and a == a
    assert hash(a) == hash(a)
    assert len({a, b}) == 2


def test_docstrings():
    assert Directive.__doc__ == (
        "One parsed directive (`ACTION:[<KIND>]NAME[@PATH][=NOTE]`), open-set: `action` is the raw token."
    )
    docs = {
        "action": "The action token, verbatim.",
        "kind": "The `<KIND>` filter, or `None` for any kind.",
        "name": "The NAME glob, as written.",
        "path": "The `@PATH` glob, or `None`.",
        "note": "The `=NOTE` text, or `None`.",
    }
    for attr, doc in docs.items():
        assert getattr(Directive, attr).__doc__ == doc
    assert Directive.matches.__text_signature__ == "($self, names, *, qualifier=None, scopes=None)"
    assert Directive.matches.__doc__ == (
        "Does this directive apply to a target with these `names` (and optional `qualifier`/`scopes`)?\n\n"
        "KIND (if set) must equal `qualifier` exactly; NAME must glob-match one of `names`; PATH (if\n"
        "set) must glob-match one of `scopes`."
    )


MATCHES = [
    ("a:<fn>foo", ["foo"], {}, False),
    ("a:<fn>foo", ["foo"], {"qualifier": "fn"}, True),
    ("a:<fn>foo", ["foo"], {"qualifier": "Fn"}, False),
    ("a:<fn>foo", ["foo"], {"qualifier": "fn "}, False),
    ("a:foo", ["foo"], {"qualifier": "any"}, True),
    ("a:*", [], {}, False),
    ("a:foo@src/*", ["foo"], {}, False),
    ("a:foo@src/*", ["foo"], {"scopes": None}, False),
    ("a:foo@src/*", ["foo"], {"scopes": []}, False),
    ("a:foo@src/*", ["foo"], {"scopes": ["lib/a", "src/a"]}, True),
    ("a:foo", ["foo"], {"scopes": ["x"]}, True),
    ("a:foo@", ["foo"], {"scopes": ["x"]}, False),
    ("a:foo@", ["foo"], {"scopes": ["x", ""]}, True),
    ("a:b*", ("x", "bar"), {}, True),
    ("a:a\\@b", ["a@b"], {}, True),
]


@pytest.mark.parametrize("spec,names,kw,expected", MATCHES)
def test_matches(spec, names, kw, expected):
    assert parse(spec).matches(names, **kw) is expected


@pytest.mark.parametrize(
    "call",
    [
        lambda d: d.matches("foo"),
        lambda d: d.matches({"foo"}),
        lambda d: d.matches(["foo"], scopes="src"),
        lambda d: d.matches(["foo"], qualifier=1),
        lambda d: d.matches(["foo"], "q"),
        lambda d: d.matches(),
        lambda d: d.matches(["foo"], other=1),
    ],
)
def test_matches_refusals(call):
    with pytest.raises(TypeError):
        call(parse("a:foo"))


def test_directive_outlives_everything_it_came_from():
    d = parse("allow:" + "x" * 1000 + "{a,b}@src/*=n")
    gc.collect()
    assert d.matches(["x" * 1000 + "b"], scopes=["src/z"]) is True
