"""The class Exp: compiling expression text, evaluating it over bindings,
argument handling and comparison."""

import collections
import types

import pytest

from vintrel import Exp, VarAccess


@pytest.mark.parametrize(
    "text",
    ["a == 1 \n", "a\u3000", "a\u00a0", " \t(a)\r\n", "a\u2028\u205f"],
    ids=["space-lf", "ideographic-space", "no-break-space", "leading-and-trailing", "line-separator"],
)
def test_trailing_unicode_whitespace_is_accepted(text):
    assert Exp(text) == Exp("a" if "==" not in text else "a == 1")


@pytest.mark.parametrize(
    "text, message",
    [
        ("a b", "error Eof at: b"),
        ("a\u00a0b", "error Eof at: \u00a0b"),  # reported untrimmed
        ("a == 1 ;", "error Eof at: ;"),
    ],
)
def test_text_after_the_expression_is_refused(text, message):
    with pytest.raises(ValueError) as info:
        Exp(text)
    assert info.value.args == (message,)


def test_parse_failure_names_kind_and_rest():
    with pytest.raises(ValueError, match=r"^error \w+ at: ") as info:
        Exp("(")
    assert type(info.value) is ValueError


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: Exp(exp="a"), "Exp() got some positional-only arguments passed as keyword arguments: 'exp'"),
        (lambda: Exp(), "Exp() missing 1 required positional argument: 'exp'"),
        (lambda: Exp("a", "b"), "Exp() takes 1 positional argument but 2 were given"),
        (lambda: Exp("a", other=1), "Exp() got an unexpected keyword argument 'other'"),
        (lambda: Exp(1), "argument 'exp': expected str, got int"),
        (lambda: Exp(b"a"), "argument 'exp': expected str, got bytes"),
    ],
)
def test_constructor_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_constructor_accepts_str_subclass_and_refuses_lone_surrogate():
    class Text(str):
        pass

    assert Exp(Text("a == 1")) == Exp("a == 1")
    with pytest.raises(UnicodeEncodeError):
        Exp("'\ud800'")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda e: e.eval(), "Exp.eval() missing 1 required positional argument: 'bindings'"),
        (lambda e: e.eval({}, {}), "Exp.eval() takes 1 positional argument but 2 were given"),
        (lambda e: e.eval({}, bindings={}), "Exp.eval() got multiple values for argument 'bindings'"),
        (lambda e: e.eval(values={}), "Exp.eval() got an unexpected keyword argument 'values'"),
        (lambda e: e.eval([("a", 1)]), "argument 'bindings': expected dict, got list"),
        (lambda e: e.eval(types.MappingProxyType({"a": 1})), "argument 'bindings': expected dict, got mappingproxy"),
        (lambda e: e.eval({1: 2}), "argument 'bindings': Keys must be str, not int"),
        (lambda e: e.eval({"x": {1, 2}}), "argument 'bindings': Unsupported type for JSON value: set"),
    ],
)
def test_eval_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call(Exp("1"))
    assert str(info.value) == message


def test_bindings_by_position_or_keyword():
    assert Exp("a").eval({"a": 1}) == 1
    assert Exp("a").eval(bindings={"a": 1}) == 1


def test_every_binding_is_converted_even_unused():
    with pytest.raises(TypeError, match="set"):
        Exp("1").eval({"x": {1, 2}, "y": 1})


def test_dict_subclass_bindings_are_read_from_storage():
    class Doubling(dict):
        def __getitem__(self, key):
            return 2 * dict.__getitem__(self, key)

        def __iter__(self):
            raise AssertionError("not used")

    assert Exp("a").eval(collections.OrderedDict(a=1)) == 1
    assert Exp("a").eval(Doubling(a=1)) == 1


def test_many_compiled_names_each_find_their_own_value():
    # More names than any table of recent keys holds, compiled and used in
    # an order that makes them evict one another, non-ASCII ones among
    # them: every compiled name still reads its own value.
    paths = [f"n{i}" for i in range(3000)] + [f"u.'\u00e9{i}'" for i in range(100)]
    bindings = {f"n{i}": i for i in range(3000)}
    bindings["u"] = {f"\u00e9{i}": 3000 + i for i in range(100)}
    expected = list(range(len(paths)))
    exps = [Exp(f"{path} == {i} && {path} >= 0") for i, path in enumerate(paths)]
    values = [Exp(path) for path in reversed(paths)]
    accessors = [VarAccess(path) for path in paths]
    assert all(e.eval(bindings) is True for e in exps)
    assert [e.eval(bindings) for e in values] == expected[::-1]
    assert [a.access_from_bindings(bindings) for a in accessors] == expected


@pytest.mark.parametrize(
    "text, bindings, expected",
    [
        ("a == 1 && b", {"a": 1, "b": True}, True),
        ("x", {"x": [1, {"k": None}]}, [1, {"k": None}]),
        ('{"b": 1, "a": 2}', {}, {"a": 2, "b": 1}),
        ("len(s)", {"s": "h\u00e9llo"}, 5),
        ("s", {"s": "\U0001f600 \u00e9"}, "\U0001f600 \u00e9"),
        ("[1, 1.5, 'x', null, true]", {}, [1, 1.5, "x", None, True]),
    ],
)
def test_eval_results(text, bindings, expected):
    result = Exp(text).eval(bindings)
    assert result == expected
    assert type(result) is type(expected)


def test_eval_object_keys_come_sorted():
    assert list(Exp('{"b": 1, "a": 2}').eval({})) == ["a", "b"]
    assert list(Exp("x").eval({"x": {"b": 1, "a": 2}})) == ["a", "b"]


def test_eval_returns_new_objects():
    bound = [1, [2]]
    result = Exp("x").eval({"x": bound})
    assert result == bound and result is not bound and result[1] is not bound[1]


def test_failed_eval_leaves_the_instance_usable():
    e = Exp("a.b")
    with pytest.raises(NameError):
        e.eval({})
    assert e.eval({"a": {"b": 3}}) == 3


@pytest.mark.parametrize(
    "left, right, equal",
    [
        ("a < b", "a<b", True),
        ("a < b", "b > a", False),
        ("'x'", '"x"', True),
        ("[1, {\"k\": f(a)}]", "[1,{'k':f( a )}]", True),
        ("a", "a[0]", False),
    ],
)
def test_equality_compares_trees(left, right, equal):
    assert (Exp(left) == Exp(right)) is equal
    assert (Exp(left) != Exp(right)) is not equal


def test_comparison_with_other_objects_and_ordering():
    assert (Exp("a") == "a") is False
    assert (Exp("a") != "a") is True
    for op in ("<", "<=", ">", ">="):
        with pytest.raises(TypeError):
            eval(f"Exp('a') {op} Exp('b')")
