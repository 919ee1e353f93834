"""The class VarAccess: compiling paths, reading, replacing, comparing and
hashing."""

import pytest

from vintrel import VarAccess


@pytest.mark.parametrize("text", ["a.b[2].c", "a[0] ", "'x y'[3].z", "a[ 00 ]", '"a.b".c'])
def test_accepted_paths(text):
    VarAccess(text)


@pytest.mark.parametrize(
    "text, message",
    [
        ("a ", "error Eof at:  "),
        ("", "error Char at: "),
        (" a", "error Char at:  a"),
        ("1a", "error Digit at: "),
        ("a.b c", "error Eof at:  c"),
        ("a\n", "error Eof at: \n"),
    ],
)
def test_refused_paths(text, message):
    with pytest.raises(ValueError) as info:
        VarAccess(text)
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: VarAccess(5), "argument 'accessor': expected str, got int"),
        (lambda: VarAccess(accessor="a"),
         "VarAccess() got some positional-only arguments passed as keyword arguments: 'accessor'"),
        (lambda: VarAccess(), "VarAccess() missing 1 required positional argument: 'accessor'"),
        (lambda: VarAccess("a").access(), "VarAccess.access() missing 1 required positional argument: 'value'"),
        (lambda: VarAccess("a").access(value={}),
         "VarAccess.access() got some positional-only arguments passed as keyword arguments: 'value'"),
        (lambda: VarAccess("a").access({}, other=1), "VarAccess.access() got an unexpected keyword argument 'other'"),
        (lambda: VarAccess("a").replace({}),
         "VarAccess.replace() missing 1 required positional argument: 'replacement'"),
        (lambda: VarAccess("a").replace(),
         "VarAccess.replace() missing 2 required positional arguments: 'value' and 'replacement'"),
        (lambda: VarAccess("a").replace({}, 1, 2), "VarAccess.replace() takes 2 positional arguments but 3 were given"),
        (lambda: VarAccess("a").access_from_bindings(bindings={}),
         "VarAccess.access_from_bindings() got some positional-only arguments passed as keyword arguments: "
         "'bindings'"),
        (lambda: VarAccess("a").access_from_bindings([]), "argument 'bindings': expected dict, got list"),
        (lambda: VarAccess("a").access({1, 2}), "argument 'value': Unsupported type for JSON value: set"),
        (lambda: VarAccess("a").replace({"a": 1}, {1}), "argument 'replacement': Unsupported type for JSON value: set"),
        (lambda: VarAccess("q").replace({1}, {2}), "argument 'value': Unsupported type for JSON value: set"),
        (lambda: VarAccess("x").access_from_bindings({"x": 1, "y": {1}}),
         "argument 'bindings': Unsupported type for JSON value: set"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "path, value, expected",
    [
        ("a.b", {"a": {"b": [1, 2]}}, [1, 2]),
        ("a.b", {"a": {"b": (1, 2)}}, [1, 2]),
        ("a[1].b", {"a": [0, {"b": "x"}]}, "x"),
        ("'b.c'", {"b.c": 1, "b": {"c": 2}}, 1),
    ],
)
def test_access(path, value, expected):
    result = VarAccess(path).access(value)
    assert result == expected and type(result) is type(expected)


def test_access_returns_a_copy():
    inner = [1, 2]
    result = VarAccess("a.b").access({"a": {"b": inner}})
    assert result == inner and result is not inner


# Found scalars come back as new objects of the same value, whatever width
# the text is stored in; the interpreter's shared empty and one-character
# strs and small ints are what it makes for any such value.
@pytest.mark.parametrize(
    "found",
    ["", "x", "\u00e9", "found", "caf\u00e9", "\u20ac10", "\U0001f600 ok", "x" * 1000,
     0, -5, 256, 2**29 + 7, -(2**29), 2**40, 2**62, 2**63 + 1, -(2**63), True, None, 1.5],
)
@pytest.mark.parametrize("read", ["access", "access_from_bindings"])
def test_found_scalars_come_back_equal(found, read):
    data = {"a": {"b": found}}
    result = getattr(VarAccess("a.b"), read)(data)
    assert result == found and type(result) is type(found)
    if isinstance(found, str) and len(found) > 1:
        assert result is not found


@pytest.mark.parametrize(
    "method, path, arg, message",
    [
        ("access", "a", [1], "Object '<root>' does not contain key 'a'"),
        ("access", "a.c", {"a": {"b": 7}}, "Object 'a' does not contain key 'c'"),
        ("access", "a.b[3]", {"a": {"b": 7}}, "Type error: Expected array at 'a', found UInt(7)"),
        ("access", "a.b[5]", {"a": {"b": [1, 2]}},
         "Index out of bounds: Index out of bounds at 'a' (index: 5, length: 2)"),
        ("access", "x[1]", {"x": 4}, "Type error: Expected array at '<root>', found UInt(4)"),
        ("access_from_bindings", "x", {"y": 1}, "Variable not found: x"),
        ("access_from_bindings", "b[3]", {"b": 7}, "Type error: Expected array at 'b[3]', found UInt(7)"),
        ("access_from_bindings", "a[0].b", {"a": [5]}, "Object 'a[0]' does not contain key 'b'"),
    ],
)
def test_unresolved_paths_raise_name_error(method, path, arg, message):
    with pytest.raises(NameError) as info:
        getattr(VarAccess(path), method)(arg)
    assert info.value.args == (message,)


def test_access_from_bindings():
    assert VarAccess("a[1]").access_from_bindings({"a": [10, 20]}) == 20
    assert VarAccess("a[0].b").access_from_bindings({"a": [{"b": 1}]}) == 1
    assert VarAccess("a").access_from_bindings({"a": {"b": 1, "a": 2}}) == {"b": 1, "a": 2}


def test_replace_returns_an_updated_copy():
    value = {"a": {"b": 1, "z": 2}}
    result = VarAccess("a.b").replace(value, 9)
    assert result == {"a": {"b": 9, "z": 2}}
    assert list(result["a"]) == ["b", "z"]
    assert value == {"a": {"b": 1, "z": 2}}


@pytest.mark.parametrize(
    "path, value, message",
    [
        ("a.q", {"a": {"b": 1}}, "Object 'a' does not contain key 'q'"),
        ("a[2]", {"a": [1, 2]}, "Index out of bounds: Index out of bounds at '<root>' (index: 2, length: 2)"),
        ("a.b[0]", {"a": {"b": 7}}, "Type error: Expected array at 'a'"),
    ],
)
def test_replace_never_adds(path, value, message):
    with pytest.raises(NameError) as info:
        VarAccess(path).replace(value, 0)
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "left, right, equal",
    [
        ("a.b", "'a'.b", True),
        ("a[0]", "a[ 00 ]", True),
        ("a", "a[0]", False),
        ("a.b", "a", False),
        ('"a.b"', "a.b", False),
    ],
)
def test_equality_and_hash(left, right, equal):
    a, b = VarAccess(left), VarAccess(right)
    assert (a == b) is equal and (a != b) is not equal
    if equal:
        assert hash(a) == hash(b)


def test_comparison_with_other_objects_and_ordering():
    assert (VarAccess("a") == "a") is False
    with pytest.raises(TypeError):
        VarAccess("a") < VarAccess("b")


@pytest.mark.parametrize(
    "path, expected",
    [("a", 6769803031325424219), ("'x y'[3].z", -7575321781440503495)],
)
def test_hash_check_values(path, expected):
    assert hash(VarAccess(path)) == expected
