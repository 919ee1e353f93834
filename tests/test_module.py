"""The module's surface: its attributes, the two classes' fixed properties,
docstrings and text signatures, and how the module starts up."""

import gc
import inspect
import os
import subprocess
import sys
import textwrap
import weakref

import pytest

import vintrel
from vintrel import Exp, VarAccess

CLASSES = pytest.mark.parametrize("cls", [Exp, VarAccess], ids=["Exp", "VarAccess"])
INSTANCES = pytest.mark.parametrize(
    "make", [lambda: Exp("a"), lambda: VarAccess("a")], ids=["Exp", "VarAccess"]
)

EVAL_DOC = (
    "Evaluate the expression with the given variable bindings.\n\n# Arguments\n\n"
    "- `bindings`: A mapping containing variable bindings, where keys are variable names and values are their "
    "corresponding JSON values.\n\n# Returns\n\nThe result of evaluating the expression, represented as a "
    "`PyJsonValue`.\n\n# Errors\n\nIf there is an error during evaluation (e.g., undefined variable, type error), "
    "a `ValueError` will be raised with a message describing the evaluation error."
)
ACCESS_DOC = (
    "Access the variable specified by this `PyVarAccess` from the given JSON value.\n\n# Arguments\n\n"
    "- `value`: The JSON value from which to access the variable specified by this `PyVarAccess`.\n\n"
    "# Returns\n\n- A `PyJsonValue` representing the value accessed from the provided JSON value according to "
    "the variable access specified by this `PyVarAccess`.\n\n# Errors\n\n- If there is an error during the "
    "variable access (e.g., variable not found, type mismatch), a `ValueError` will be raised with a message "
    "describing the error."
)
REPLACE_DOC_HEAD = (
    "Replace the variable specified by this `PyVarAccess` in the given JSON value with a new value.\n\n"
    "# Arguments\n\n- `value`: The JSON value in which to replace the variable specified by this `PyVarAccess`.\n"
    "- `replacement`: The new value to replace the variable with.\n\n# Returns\n\nThe updated mapping after the "
    "replacement has been made, represented as a `PyJsonValue`.\n\n"
)
REPLACE_DOC_TAIL = (
    "\n\n# Errors\n\nIf the variable access failed, a `ValueError` will be raised with a message describing the "
    "error."
)
ACCESS_FROM_BINDINGS_DOC = (
    "Access the variable specified by this `PyVarAccess` from the given variable bindings.\n\n# Arguments\n\n"
    "- `bindings`: A mapping containing variable bindings, where keys are variable names and values are their "
    "corresponding JSON values.\n\n# Returns\n\n- A `PyJsonValue` representing the value accessed from the "
    "provided variable bindings according to the variable access specified by this `PyVarAccess`.\n\n"
    "# Errors\n\n- If there is an error during the variable access (e.g., variable not found, type mismatch), a "
    "`ValueError` will be raised with a message describing the error."
)


def test_module_attributes():
    assert vintrel.__all__ == ["Exp", "VarAccess"]
    assert vintrel.__doc__ == ""
    own = {name for name in vars(vintrel) if name not in ("__name__", "__doc__", "__package__", "__loader__",
                                                          "__spec__", "__file__")}
    assert own == {"Exp", "VarAccess", "__all__"}
    assert not hasattr(vintrel, "PanicException")


@pytest.mark.parametrize(
    "owner, name, signature, doc",
    [
        (Exp, None, "(exp, /)", ""),
        (VarAccess, None, "(accessor, /)", ""),
        (Exp, "eval", "($self, bindings)", EVAL_DOC),
        (VarAccess, "access", "($self, value, /)", ACCESS_DOC),
        (VarAccess, "access_from_bindings", "($self, bindings, /)", ACCESS_FROM_BINDINGS_DOC),
    ],
)
def test_docstrings_and_text_signatures(owner, name, signature, doc):
    target = owner if name is None else getattr(owner, name)
    assert target.__text_signature__ == signature
    assert target.__doc__ == doc


def test_replace_docstring_note():
    doc = VarAccess.replace.__doc__
    assert VarAccess.replace.__text_signature__ == "($self, value, replacement, /)"
    assert doc.startswith(REPLACE_DOC_HEAD) and doc.endswith(REPLACE_DOC_TAIL)
    note = doc[len(REPLACE_DOC_HEAD):-len(REPLACE_DOC_TAIL)]
    first, second = note.split("\n")
    assert first.endswith(",")
    assert "old value" in second and "in place" in second
    for language in ("Rust", "C++", "pyo3", "PyO3"):
        assert language not in doc


def test_signatures_seen_by_inspect():
    assert str(inspect.signature(Exp)) == "(exp, /)"
    assert str(inspect.signature(Exp.eval)) == "(self, /, bindings)"
    assert str(inspect.signature(VarAccess.replace)) == "(self, value, replacement, /)"


@CLASSES
def test_class_names(cls):
    assert cls.__module__ == "builtins"
    assert cls.__name__ == cls.__qualname__ == {Exp: "Exp", VarAccess: "VarAccess"}[cls]
    assert cls.__flags__ & (1 << 10) == 0  # not a base type


@CLASSES
def test_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@INSTANCES
def test_instances_are_plain_and_immutable(make):
    obj = make()
    with pytest.raises(TypeError):
        weakref.ref(obj)
    with pytest.raises(AttributeError):
        obj.extra = 1
    assert not hasattr(obj, "__dict__")
    assert not gc.is_tracked(obj)
    assert repr(obj).startswith(f"<builtins.{type(obj).__name__} object at 0x")


def test_exp_is_unhashable_and_var_access_hashable():
    assert Exp.__hash__ is None
    with pytest.raises(TypeError):
        hash(Exp("a"))
    with pytest.raises(TypeError):
        {Exp("a")}
    assert len({VarAccess("a.b"), VarAccess("'a'.b")}) == 1


def test_reimport_gives_the_same_classes():
    first = sys.modules.pop("vintrel")
    try:
        import vintrel as again

        assert again is not first
        assert again.Exp is first.Exp and again.VarAccess is first.VarAccess
        assert again.__all__ == ["Exp", "VarAccess"]
    finally:
        sys.modules["vintrel"] = first


def test_exec_step_appends_to_an_existing_all(fresh_module):
    module = fresh_module(lambda m: setattr(m, "__all__", ["other"]))
    assert module.__all__ == ["other", "Exp", "VarAccess"]
    assert module.Exp is Exp


def test_exec_step_refuses_an_all_that_is_not_a_list(fresh_module):
    with pytest.raises(TypeError, match="__all__ must be a list, not tuple"):
        fresh_module(lambda m: setattr(m, "__all__", ("other",)))
    assert Exp("1 == 1").eval({}) is True


@pytest.mark.skipif(sys.version_info < (3, 12), reason="needs the sub-interpreter test modules of 3.12+")
def test_sub_interpreters_are_refused():
    # The class objects belong to the whole process, so a second interpreter
    # must not receive them; the main one keeps working.
    script = textwrap.dedent(
        """
        try:
            import _interpreters as interpreters
            interp = interpreters.create("legacy")
        except ImportError:
            import _xxsubinterpreters as interpreters
            interp = interpreters.create(isolated=False)
        import vintrel
        interpreters.run_string(interp, '''
        try:
            import vintrel
        except ImportError as e:
            print("refused:", e)
        else:
            print("imported")
        ''')
        print(vintrel.Exp("1 == 1").eval({}))
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=os.environ,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["refused: vintrel can only be imported in the main interpreter", "True"]
