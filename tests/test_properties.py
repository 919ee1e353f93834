"""Properties that must hold for any input, checked with generated cases."""

import base64
import math
import re

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import vintrel

SETTINGS = settings(max_examples=200, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

INT64 = st.integers(min_value=-(2**63), max_value=2**63 - 1)
ANY_CHAR = st.characters(exclude_categories=())  # surrogates included
KEYS = st.sampled_from(["a", "b", "c", "x y", "é", "0k", "true", "a.b", "", "\x00"])


def has_surrogate(s):
    return any(0xD800 <= ord(c) <= 0xDFFF for c in s)


def is_tail(text, rest):
    return text.endswith(rest)


def json_like(ints=INT64, keys=KEYS, max_leaves=20):
    scalars = (st.none() | st.booleans() | ints | st.floats(allow_nan=False) | st.text(max_size=8))
    return st.recursive(
        scalars,
        lambda children: st.lists(children, max_size=4) | st.dictionaries(keys, children, max_size=4),
        max_leaves=max_leaves,
    )


def canon(v, keep_order):
    """A form in which equal means equal in kind too: True is not 1, 1 is
    not 1.0, -0.0 is not 0.0; dicts compare in order when asked to."""
    if isinstance(v, bool) or v is None or isinstance(v, str):
        return (type(v).__name__, v)
    if isinstance(v, int):
        return ("int", v)
    if isinstance(v, float):
        return ("float", v.hex())
    if isinstance(v, list):
        return ("list", tuple(canon(x, keep_order) for x in v))
    if isinstance(v, dict):
        items = [(k, canon(x, keep_order)) for k, x in v.items()]
        return ("dict", tuple(items if keep_order else sorted(items)))
    raise AssertionError(f"not JSON-like: {type(v)}")


def keys_sorted_everywhere(v):
    if isinstance(v, list):
        return all(keys_sorted_everywhere(x) for x in v)
    if isinstance(v, dict):
        return list(v) == sorted(v) and all(keys_sorted_everywhere(x) for x in v.values())
    return True


# ---------------------------------------------------------------------------
# Any text either compiles or is refused with a ValueError

TOKENS = ["(", ")", "[", "]", "{", "}", ",", ":", "||", "&&", "==", "!=", "<", ">", "<=", ">=", "!", "x", "a.b",
          "[0]", "[ 1 ]", "1", "-2", "+3", "3.5", "9223372036854775808", "true", "null", "nullable", "'s'", '"t"',
          "r'\\'", "'\\q'", "len", "format", "matches", " ", "\u00a0", "\t", "\n", "\u3000", "é", "_", ".", "'"]
expression_like = st.lists(st.sampled_from(TOKENS), max_size=30).map("".join)
any_text = st.text(alphabet=ANY_CHAR, max_size=40)

ERROR = re.compile(r"^error (\w+) at: (.*)$", re.DOTALL)


def check_refusal(exc, text):
    """A refusal names a kind and the text where reading stopped, which is
    always a tail of the given text."""
    assert type(exc) is ValueError
    m = ERROR.match(exc.args[0])
    assert m, exc.args[0]
    assert is_tail(text, m.group(2)), (text, m.group(2))
    return m.group(1)


@SETTINGS
@given(st.one_of(expression_like, any_text))
def test_any_text_compiles_or_is_refused(text):
    if has_surrogate(text):
        with pytest.raises(UnicodeEncodeError):
            vintrel.Exp(text)
        return
    try:
        exp = vintrel.Exp(text)
    except ValueError as e:
        assert check_refusal(e, text) in {"Char", "Count", "Eof", "TooLarge"}
        return
    assert exp == vintrel.Exp(text)
    try:
        exp.eval({"x": 1, "a": {"b": [1, "s"]}, "nullable": None})
    except (NameError, TypeError, ValueError, RuntimeError):
        pass  # anything else (SystemError, PanicException) fails the test


path_like = st.lists(st.sampled_from(["a", "b_1", ".", "[", "]", "0", "7", " ", "'q r'", '"s"', "''", "true",
                                      "r'x'", "[18446744073709551616]", "\t", "é"]), max_size=12).map("".join)


@SETTINGS
@given(st.one_of(path_like, any_text))
def test_any_text_is_a_path_or_is_refused(text):
    if has_surrogate(text):
        with pytest.raises(UnicodeEncodeError):
            vintrel.VarAccess(text)
        return
    try:
        path = vintrel.VarAccess(text)
    except ValueError as e:
        check_refusal(e, text)
        return
    assert path == vintrel.VarAccess(text)
    assert hash(path) == hash(vintrel.VarAccess(text))


# ---------------------------------------------------------------------------
# Paths find what plain indexing finds

IDENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


def segment_text(name):
    if IDENT.match(name) and name not in ("true", "false", "null"):
        return name
    escaped = name.replace("\\", "\\\\").replace("'", "\\'").replace("\n", "\\n").replace("\r", "\\r")
    return "'" + escaped.replace("\t", "\\t").replace("\x00", "\\0") + "'"


path_names = st.lists(st.tuples(st.sampled_from(["a", "b", "c", "x y", "é", "true", "a.b", "\x00"]),
                                st.none() | st.integers(min_value=0, max_value=3)), min_size=1, max_size=4)


def python_lookup(names, value):
    cur = value
    for name, index in names:
        if not isinstance(cur, dict) or name not in cur:
            raise LookupError(name)
        cur = cur[name]
        if index is not None:
            if not isinstance(cur, list) or index >= len(cur):
                raise LookupError(index)
            cur = cur[index]
    return cur


SMALL = json_like(max_leaves=4)


def data_along(names):
    """Data in which the path mostly resolves, with other keys around it."""
    def build(i):
        if i == len(names):
            return SMALL
        name, index = names[i]
        inner = build(i + 1)
        if index is not None:
            inner = st.tuples(st.lists(SMALL, max_size=3), inner).map(
                lambda t, index=index: t[0][:index] + [t[1]] + t[0][index:])
        return st.tuples(st.dictionaries(KEYS, SMALL, max_size=2), inner, st.integers(0, 9)).map(
            lambda t, name=name: {**t[0], name: t[1]} if t[2] else t[0])
    return build(0)


@SETTINGS
@given(st.data())
def test_path_access_matches_plain_indexing(data):
    names = data.draw(path_names)
    value = data.draw(data_along(names) | SMALL)
    text = ".".join(segment_text(n) + (f"[{i}]" if i is not None else "") for n, i in names)
    path = vintrel.VarAccess(text)
    try:
        expected = python_lookup(names, value)
    except LookupError:
        with pytest.raises(NameError):
            path.access(value)
        return
    assert canon(path.access(value), keep_order=True) == canon(expected, keep_order=True)
    if isinstance(value, dict):
        assert canon(path.access_from_bindings(value), keep_order=True) == canon(expected, keep_order=True)
        replaced = path.replace(value, "new")
        assert python_lookup(names, replaced) == "new"
        assert python_lookup(names, value) is expected  # the input is untouched


# ---------------------------------------------------------------------------
# Values round-trip through the engine

@SETTINGS
@given(json_like())
def test_eval_of_a_variable_returns_its_value(v):
    result = vintrel.Exp("x").eval({"x": v})
    assert canon(result, keep_order=False) == canon(v, keep_order=False)
    assert keys_sorted_everywhere(result)


@SETTINGS
@given(json_like(ints=st.integers(min_value=-(2**63), max_value=2**64 - 1)))
def test_access_returns_its_value_in_its_order(v):
    assert canon(vintrel.VarAccess("x").access({"x": v}), keep_order=True) == canon(v, keep_order=True)


# ---------------------------------------------------------------------------
# Plain data is read where it lies; anything else is copied first. Both ways
# give the same results and the same failures, word for word.

class Copied(dict):
    """Data the module must copy before reading: a dict subclass."""


def outcome(call):
    try:
        return ("ok", canon(call(), keep_order=True))
    except Exception as e:  # noqa: BLE001 - the failure itself is compared
        return ("error", type(e).__name__, str(e))


TEMPLATES = ["{p}", "len({p})", "{p} == {q}", "{p} >= {q}", "!{p}", "string({p})", "contains({p}, 'a')",
             "[{p}, {q}]", "{{'k': {p}}}", "{p} && {q} || {q}", "format('{{0}}/{{1}}', {p}, {q})"]


exp_path_names = st.lists(st.tuples(st.sampled_from(["a", "b", "c"]),
                                    st.none() | st.integers(min_value=0, max_value=3)), min_size=1, max_size=4)


def path_text(names):
    return ".".join(segment_text(n) + (f"[{i}]" if i is not None else "") for n, i in names)


@SETTINGS
@given(st.data())
def test_plain_data_reads_as_its_copy(data):
    names = data.draw(exp_path_names | path_names)
    other = data.draw(exp_path_names)
    value = data.draw(data_along(names) | json_like(ints=st.integers(min_value=-(2**70), max_value=2**70)))
    bindings = value if isinstance(value, dict) else {"a": value}
    copied = {**bindings, "_": Copied()}
    if all(segment_text(n) == n for n, _ in names):  # quoted names are for paths only
        exp = vintrel.Exp(data.draw(st.sampled_from(TEMPLATES)).format(p=path_text(names), q=path_text(other)))
        assert outcome(lambda: exp.eval(bindings)) == outcome(lambda: exp.eval(copied))
    path = vintrel.VarAccess(path_text(names))
    assert outcome(lambda: path.access(bindings)) == outcome(lambda: path.access(Copied(bindings)))
    assert outcome(lambda: path.access_from_bindings(bindings)) == outcome(
        lambda: path.access_from_bindings(copied))


# ---------------------------------------------------------------------------
# Text built-ins against Python's own

text = st.text(max_size=30)


@SETTINGS
@given(text)
def test_base64_round_trip_and_encoding(s):
    assert vintrel.Exp("base64Decode(base64Encode(s)) == s").eval({"s": s}) is True
    assert vintrel.Exp("base64Encode(s)").eval({"s": s}) == base64.b64encode(s.encode()).decode()


@SETTINGS
@given(st.binary(max_size=12))
def test_base64_decode_checks_utf8_like_python(raw):
    encoded = base64.b64encode(raw).decode()
    try:
        expected = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        if e.reason == "unexpected end of data":
            why = f"incomplete utf-8 byte sequence from index {e.start}"
        else:
            why = f"invalid utf-8 sequence of {e.end - e.start} bytes from index {e.start}"
        with pytest.raises(ValueError) as info:
            vintrel.Exp("base64Decode(b)").eval({"b": encoded})
        assert info.value.args[0] == f"Decoded bytes are not valid UTF-8: '{why}'"
        return
    assert vintrel.Exp("base64Decode(b)").eval({"b": encoded}) == expected


@SETTINGS
@given(st.text(alphabet="ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=- \n", max_size=12))
def test_base64_decode_accepts_only_canonical_text(b):
    try:
        decoded = vintrel.Exp("base64Decode(b)").eval({"b": b})
    except ValueError as e:
        assert e.args[0].startswith(("Invalid base64 string: '", "Decoded bytes are not valid UTF-8: '"))
        return
    assert base64.b64encode(decoded.encode()).decode() == b


@SETTINGS
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_string_of_a_float_reads_back(x):
    assert vintrel.Exp("float(string(x)) == x").eval({"x": x}) is True
    shown = vintrel.Exp("string(x)").eval({"x": x})
    assert float(shown) == x
    assert math.copysign(1, float(shown)) == math.copysign(1, x)


@SETTINGS
@given(INT64)
def test_string_of_an_int_reads_back(i):
    assert vintrel.Exp("int(string(i)) == i").eval({"i": i}) is True
    assert vintrel.Exp("string(i)").eval({"i": i}) == str(i)


@SETTINGS
@given(text, st.text(max_size=3), st.text(max_size=3))
def test_text_builtins_agree_with_python(s, x, r):
    b = {"s": s, "x": x, "r": r}
    assert vintrel.Exp("replace(s, x, r)").eval(b) == s.replace(x, r)
    assert vintrel.Exp("len(s)").eval(b) == len(s)
    assert vintrel.Exp("startsWith(s, x)").eval(b) is s.startswith(x)
    assert vintrel.Exp("endsWith(s, x)").eval(b) is s.endswith(x)
    assert vintrel.Exp("contains(s, x)").eval(b) is (x in s)
    assert vintrel.Exp("join(split(s, x), x) == s").eval(b) is True
    if x:
        assert vintrel.Exp("split(s, x)").eval(b) == s.split(x)
