"""JSON-like values in both directions: which Python objects are accepted,
what they become, and the limits on nesting, encoding and reported sizes."""

import collections
import collections.abc
import decimal
import enum
import fractions
import math
import sys
import types

import pytest

from vintrel import Exp, VarAccess

MAX_DEPTH = 1000


def via_access(v):
    """The value after entering and leaving without passing through the
    engine's own value type."""
    return VarAccess("x").access({"x": v})


def via_eval(v):
    """The value after passing through the engine's value type."""
    return Exp("x").eval({"x": v})


def debug_text(v):
    """The debug text of the converted value, as the message of an index on
    a value that is not a list shows it."""
    with pytest.raises(NameError) as info:
        VarAccess("x[0]").access({"x": v})
    prefix = "Type error: Expected array at '<root>', found "
    message = info.value.args[0]
    assert message.startswith(prefix)
    return message[len(prefix):]


class Index:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


class FloatOnly:
    def __float__(self):
        return 2.5


class Color(enum.IntEnum):
    RED = 3


@pytest.mark.parametrize(
    "value, expected",
    [
        (None, None),
        (True, True),
        (False, False),
        (1, 1),
        (-5, -5),
        (2**64 - 1, 2**64 - 1),
        (2**64, 18446744073709551616.0),
        (-(2**63), -(2**63)),
        (-(2**63) - 1, -9223372036854775808.0),
        (1.5, 1.5),
        ("h\u00e9 \U0001f600", "h\u00e9 \U0001f600"),
        ((1, 2), [1, 2]),
        (b"ab", [97, 98]),
        (bytearray(b"\x00"), [0]),
        (range(3), [0, 1, 2]),
        (Index(7), 7),
        (Index(-7), -7),
        (Color.RED, 3),
        (FloatOnly(), 2.5),
        (decimal.Decimal("0.5"), 0.5),
        (fractions.Fraction(1, 4), 0.25),
        (collections.OrderedDict(b=1, a=2), {"b": 1, "a": 2}),
        (types.MappingProxyType({"k": [None]}), {"k": [None]}),
        (collections.deque([1, 2]), [1, 2]),
    ],
    ids=repr,
)
def test_values_that_convert(value, expected):
    result = via_access(value)
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize(
    "value, type_name",
    [({1, 2}, "set"), (frozenset(), "frozenset"), (1j, "complex"), (object(), "object"), (10**400, "int"),
     (-(10**400), "int"), ([1, {2}], "set"), ({"a": [object()]}, "object")],
    ids=repr,
)
def test_unsupported_values(value, type_name):
    with pytest.raises(TypeError) as info:
        via_access(value)
    assert info.value.args == (f"argument 'value': Unsupported type for JSON value: {type_name}",)


def test_bool_is_never_an_integer():
    assert via_access(True) is True
    assert via_access(1) == 1 and type(via_access(1)) is int
    assert debug_text(True) == "Bool(true)"
    assert debug_text(1) == "UInt(1)"
    assert debug_text(-1) == "Int(-1)"


def test_mapping_keys_must_be_str():
    with pytest.raises(TypeError, match="^argument 'value': Keys must be str, not int$"):
        via_access({1: "x"})


@pytest.mark.parametrize(
    "value, expected",
    [
        (2**63 - 1, 2**63 - 1),
        (2**63, 9223372036854775808.0),
        (2**64 - 1, 18446744073709551616.0),
        (-(2**63), -(2**63)),
    ],
)
def test_integers_through_the_engine(value, expected):
    result = via_eval(value)
    assert result == expected and type(result) is type(expected)


@pytest.mark.parametrize("through", [via_access, via_eval], ids=["access", "eval"])
def test_special_floats(through):
    assert math.isnan(through(float("nan")))
    assert through(float("inf")) == math.inf
    assert through(-math.inf) == -math.inf
    assert math.copysign(1, through(-0.0)) == -1


@pytest.mark.parametrize(
    "value, text",
    [
        (float("nan"), "Float(NaN)"),
        (float("inf"), "Float(inf)"),
        (1.0, "Float(1.0)"),
        (1e16, "Float(1e16)"),
        ("a\"b\\c\td'e\u0301\u00a0\x00", 'String("a\\"b\\\\c\\td\'e\\u{301}\\u{a0}\\0")'),
        ({"k": [1, None], "e": []}, 'Object({"k": Array([UInt(1), Null]), "e": Array([])})'),
        ({"k": False, "j": -3}, 'Object({"k": Bool(false), "j": Int(-3)})'),
        ({}, "Object({})"),
    ],
    ids=repr,
)
def test_debug_text(value, text):
    assert debug_text(value) == text


def test_key_order_access_versus_eval():
    value = {"b": 1, "a": 2}
    assert list(via_access(value)) == ["b", "a"]
    assert list(via_eval(value)) == ["a", "b"]


def test_mapping_is_read_through_its_own_item_access():
    class Doubling(dict):
        def __getitem__(self, key):
            return 2 * dict.__getitem__(self, key)

    class Registered(collections.abc.Mapping):
        def __getitem__(self, key):
            return {"z": 1, "y": 2}[key]

        def __iter__(self):
            return iter(["z", "y"])

        def __len__(self):
            return 2

    assert via_access(Doubling(a=1)) == {"a": 2}
    assert list(via_access(Registered()).items()) == [("z", 1), ("y", 2)]


def test_equal_key_texts_keep_the_first_place():
    class Key(str):
        __hash__ = object.__hash__

        def __eq__(self, other):
            return self is other

    value = {"a": 1, "b": 2, Key("a"): 3}
    assert list(via_access(value).items()) == [("a", 3), ("b", 2)]


def test_numpy_booleans():
    np = pytest.importorskip("numpy")
    assert via_access(np.True_) is True
    assert via_access(np.bool_(False)) is False
    assert via_access([np.True_, np.int64(5), np.float64(0.5)]) == [True, 5, 0.5]
    assert debug_text(np.True_) == "Bool(true)"
    with pytest.raises(TypeError, match="ndarray"):
        via_access(np.array([1, 2]))


def test_numpy_bool_is_recognised_by_module_and_name():
    fake = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: False})
    assert via_access(fake()) is False
    elsewhere = type("bool_", (), {"__module__": "other", "__bool__": lambda self: False})
    with pytest.raises(TypeError, match="Unsupported type for JSON value: bool_"):
        via_access(elsewhere())


def test_failing_instance_test_goes_to_the_unraisable_hook(monkeypatch):
    class Hostile:
        @property
        def __class__(self):
            raise RuntimeError("no class")

    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: seen.append(type(u.exc_value)))
    with pytest.raises(TypeError, match="Unsupported type for JSON value: Hostile"):
        via_access(Hostile())
    assert seen == [RuntimeError, RuntimeError]  # the Sequence test, then the Mapping test


# ---- limits ----


def nested_list(depth):
    v = []
    for _ in range(depth - 1):
        v = [v]
    return v


def nested_dict(depth):
    v = {}
    for _ in range(depth - 1):
        v = {"a": v}
    return v


def depth_of(v):
    """Walked without recursion: Python's own == would reach its limit."""
    depth = 0
    while v is not None:
        depth += 1
        v = (v[0] if v else None) if isinstance(v, list) else v.get("a")
    return depth


# The limit counts the containers of one value: the argument of access
# itself, or one bound value of eval (the bindings dict is not a value).
LIMIT_CASES = pytest.mark.parametrize(
    "convert, within",
    [
        (lambda v: VarAccess("x").access({"x": v}), MAX_DEPTH - 1),
        (lambda v: Exp("x").eval({"x": v}), MAX_DEPTH),
        (lambda v: VarAccess("x").access_from_bindings({"x": v}), MAX_DEPTH),
        (lambda v: VarAccess("x").replace({"x": 1}, v)["x"], MAX_DEPTH),
    ],
    ids=["access", "eval", "access_from_bindings", "replace"],
)


@pytest.mark.parametrize("nested", [nested_list, nested_dict], ids=["list", "dict"])
@LIMIT_CASES
def test_nesting_up_to_the_limit_converts(nested, convert, within):
    assert depth_of(convert(nested(within))) == within


@pytest.mark.parametrize("nested", [nested_list, nested_dict], ids=["list", "dict"])
@LIMIT_CASES
def test_nesting_beyond_the_limit_raises_recursion_error(nested, convert, within):
    with pytest.raises(RecursionError) as info:
        convert(nested(within + 1))
    assert info.value.args == (f"maximum nesting depth of {MAX_DEPTH} exceeded while converting a JSON-like value",)


def test_containers_that_hold_themselves():
    loop = []
    loop.append(loop)
    with pytest.raises(RecursionError):
        via_access(loop)
    cycle = {}
    cycle["self"] = [cycle]
    with pytest.raises(RecursionError):
        Exp("1").eval({"x": cycle})


@pytest.mark.parametrize(
    "value",
    ["\ud800", ["ok", "x\udfffy"], {"k": "\ud83d"}],
    ids=["str", "in-list", "in-dict"],
)
def test_lone_surrogate_raises_its_encoding_error(value):
    with pytest.raises(UnicodeEncodeError):
        via_access(value)
    with pytest.raises(UnicodeEncodeError):
        via_eval(value)


def test_lone_surrogate_key_raises_its_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        via_access({"\udc80": 1})
    with pytest.raises(UnicodeEncodeError):
        Exp("1").eval({"\udc80": 1})


class Lying(collections.abc.Sequence):
    """Reports a length that has nothing to do with its elements."""

    def __init__(self, length, items):
        self.length, self.items = length, items

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize(
    "length",
    [sys.maxsize, 0, 10**6, ValueError("no length"), OverflowError("huge")],
    ids=["maxsize", "zero", "million", "raises", "overflow"],
)
def test_reported_length_only_sizes_a_reservation(length):
    assert via_access(Lying(length, [1, 2, 3])) == [1, 2, 3]


def test_errors_inside_iteration_end_the_conversion():
    class Broken(collections.abc.Sequence):
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise ZeroDivisionError("boom")

    with pytest.raises(ZeroDivisionError, match="boom"):
        via_access([1, Broken()])


# ---- data changed while it is converted ----


def test_list_emptied_by_an_element_conversion():
    outer = []

    class Clearing(collections.abc.Sequence):
        def __len__(self):
            outer.clear()
            return 0

        def __getitem__(self, i):
            raise IndexError

    outer.extend([1, Clearing(), 3, 4])
    assert via_access(outer) == [1, []]


def test_bindings_changed_by_a_value_conversion():
    bindings = {}

    class Mutating(collections.abc.Sequence):
        def __len__(self):
            bindings.clear()
            bindings.update({f"k{i}": [i] * 10 for i in range(50)})
            return 0

        def __getitem__(self, i):
            raise IndexError

    bindings.update(a=1, m=Mutating(), z=[1, 2])
    try:
        Exp("1").eval(bindings)
    except Exception:
        pass  # any clean outcome will do; what matters is no crash
    assert Exp("a").eval({"a": 1}) == 1


def test_mapping_whose_keys_change_while_read():
    keys = ["a", "b", "c"]

    class Shrinking(collections.abc.Mapping):
        def keys(self):
            return keys

        def __getitem__(self, key):
            keys.clear()
            return key

        def __iter__(self):
            return iter(keys)

        def __len__(self):
            return len(keys)

    assert via_access(Shrinking()) == {"a": "a"}


class Hook:
    """An int whose conversion (through __index__) first runs `action`."""

    def __init__(self, action, n=1):
        self.action = action
        self.n = n

    def __index__(self):
        self.action()
        return self.n


# A dict nested in a value, changed by the conversion of one of its values.
# Its keys are listed once and each value is fetched by item access, as for
# any mapping: a deleted key fails as its item access does, an added one is
# not taken, and a dict that keeps growing does not keep the conversion going.
def dict_losing_a_later_key():
    d = {}
    d.update(a=Hook(lambda: d.pop("b", None)), b=2)
    return d, pytest.raises(KeyError, match="'b'")


def dict_gaining_a_key():
    d = {}
    d.update(a=Hook(lambda: d.setdefault("c", 3)), b=2)
    return d, {"a": 1, "b": 2}


def dict_that_keeps_growing():
    d = {}

    def grow():
        if len(d) < 100_000:
            d[f"k{len(d)}"] = Hook(grow)

    d["a"] = Hook(grow)
    return d, {"a": 1}


ENTRY_POINTS = {
    "access": lambda d: VarAccess("x").access({"x": d}),
    "replace": lambda d: VarAccess("x").replace({"x": 0}, d)["x"],
    "eval": lambda d: Exp("x").eval({"x": d}),
}


@pytest.mark.parametrize("enter", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
@pytest.mark.parametrize("make", [dict_losing_a_later_key, dict_gaining_a_key, dict_that_keeps_growing])
def test_dict_changed_by_the_conversion_of_its_values(enter, make):
    d, expected = make()
    if isinstance(expected, dict):
        assert enter(d) == expected
    else:
        with expected:
            enter(d)
    if make is dict_that_keeps_growing:
        assert len(d) == 2  # one Hook converted, one key added


def test_bindings_that_keep_growing_while_converted():
    # The bindings dict is read from its own storage, but no further than
    # the entries it had when the call began.
    b = {}

    def grow():
        if len(b) < 100_000:
            b[f"k{len(b)}"] = Hook(grow)

    b["a"] = Hook(grow)
    assert Exp("a").eval(b) == 1
    assert len(b) == 2


# Dicts as CPython may store them: removed entries left as holes in the
# table, a table that once held a non-str key, an index one, two or four
# bytes wide, an instance's attribute dict (keys shared with its class),
# a subclass. Each is read in order, every live entry and nothing else.
def with_holes(n, extra_key=None):
    d = {}
    if extra_key is not None:
        d[extra_key] = "gone"
    d.update((f"k{i}", i) for i in range(n))
    for i in range(0, n, 3):
        del d[f"k{i}"]
    if extra_key is not None:
        del d[extra_key]
    return d


class Point:
    def __init__(self):
        self.x, self.y, self.z = 1, "two", [3]


def attribute_dict():
    p = Point()
    del p.y
    return vars(p)


class Sub(dict):
    pass


DICT_SHAPES = {
    "holes": lambda: with_holes(10),
    "all removed": lambda: with_holes(1),
    "once a non-str key": lambda: with_holes(10, extra_key=7),
    "two-byte index": lambda: with_holes(1_000),
    "four-byte index": lambda: with_holes(70_000),
    "attribute dict": attribute_dict,
}


@pytest.mark.parametrize("shape", DICT_SHAPES.values(), ids=DICT_SHAPES.keys())
@pytest.mark.parametrize("enter", ENTRY_POINTS.values(), ids=ENTRY_POINTS.keys())
def test_dicts_of_every_storage_shape(shape, enter):
    d = shape()
    got = enter(d)
    # The engine's own objects keep their keys sorted.
    order = sorted(d) if enter is ENTRY_POINTS["eval"] else list(d)
    assert got == d and list(got) == order
    # An unsupported value in the last live entry is still seen, also where
    # nothing reads it.
    if d:
        d[next(reversed(d))] = {1}
        with pytest.raises(TypeError, match="Unsupported type for JSON value: set"):
            enter(d)
        bindings = Sub(d, a=1)
        with pytest.raises(TypeError, match="set"):
            Exp("a").eval(bindings)


@pytest.mark.parametrize("shape", DICT_SHAPES.values(), ids=DICT_SHAPES.keys())
def test_bindings_of_every_storage_shape(shape):
    d = shape()
    keys = list(d)
    for key in keys[:2] + keys[len(keys) // 2:][:1] + keys[-2:]:
        assert VarAccess(key).access_from_bindings(d) == d[key]
        assert Exp(key).eval(d) == d[key]
