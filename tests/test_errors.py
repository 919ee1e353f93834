"""How failures reach Python: the class and message of every engine error,
and how argument conversion failures are reported."""

import collections.abc

import pytest

from vintrel import Exp, VarAccess


@pytest.mark.parametrize(
    "text, bindings, cls, message",
    [
        ("len(1)", {}, TypeError, "Expected a string, array, or object, got: 'int'"),
        ("len()", {}, ValueError, "Expected 1 arguments, got 0"),
        ("startsWith('a')", {}, ValueError, "Expected 2 arguments, got 1"),
        ("x", {}, NameError, "Variable not found: x"),
        ("x.y", {"x": {"z": 1}}, NameError, "Object 'x' does not contain key 'y'"),
        ("x[2]", {"x": [1]}, NameError, "Index out of bounds: Index out of bounds at 'x[2]' (index: 2, length: 1)"),
        ("f(1)", {}, NameError, "Undefined function: f"),
        ("1 < 1.0", {}, TypeError, "Cannot compare values of different types: int and float"),
        ("len(len(1))", {}, TypeError, "Expected a string, array, or object, got: 'int'"),
    ],
)
def test_eval_errors(text, bindings, cls, message):
    with pytest.raises(cls) as info:
        Exp(text).eval(bindings)
    assert type(info.value) is cls
    assert info.value.args == (message,)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "text, prefix",
    [
        ("base64Decode('!!')", "Invalid base64 string: '"),
        ("matches('a', '(')", "Invalid regex pattern: '"),
    ],
)
def test_payload_errors_carry_the_builtin_text_alone(text, prefix):
    with pytest.raises(ValueError) as info:
        Exp(text).eval({})
    assert type(info.value) is ValueError
    (message,) = info.value.args
    assert message.startswith(prefix)
    assert "Value Error" not in message and "Regex Error" not in message and "calling function" not in message


def test_parse_error_is_a_plain_value_error():
    with pytest.raises(ValueError) as info:
        Exp("a b")
    assert type(info.value) is ValueError and info.value.args == ("error Eof at: b",)


class Raising(collections.abc.Sequence):
    """A sequence whose iteration raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise self.exc


class CustomTypeError(TypeError):
    pass


ENTRY_POINTS = pytest.mark.parametrize(
    "call, arg",
    [
        (lambda v: Exp("1").eval({"x": v}), "bindings"),
        (lambda v: VarAccess("x").access(v), "value"),
        (lambda v: VarAccess("x").replace({"x": 1}, v), "replacement"),
        (lambda v: VarAccess("x").access_from_bindings({"x": v}), "bindings"),
    ],
    ids=["eval", "access", "replace", "access_from_bindings"],
)


@ENTRY_POINTS
def test_type_error_is_renamed_and_keeps_its_cause(call, arg):
    reason = KeyError("why")
    inner = TypeError("inner problem")
    inner.__cause__ = reason
    with pytest.raises(TypeError) as info:
        call([Raising(inner)])
    assert type(info.value) is TypeError
    assert info.value.args == (f"argument '{arg}': inner problem",)
    assert info.value.__cause__ is reason


@ENTRY_POINTS
@pytest.mark.parametrize(
    "exc", [ZeroDivisionError("boom"), CustomTypeError("own class"), KeyboardInterrupt()], ids=repr
)
def test_other_exceptions_pass_unchanged(call, arg, exc):
    with pytest.raises(type(exc)) as info:
        call([Raising(exc)])
    assert info.value is exc
