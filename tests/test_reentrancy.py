"""Python code that runs in the middle of a read (a finaliser run by the
cyclic collector, which CPython 3.11 runs inside any allocation of a
container) may change or drop the data being read: every call still ends
in a value the data held at some moment, or a clear exception."""

import copy
import gc

import pytest

import vintrel


@pytest.fixture
def eager_collector():
    # A collection at nearly every allocation of a container.
    thresholds = gc.get_threshold()
    gc.set_threshold(1)
    yield
    gc.set_threshold(*thresholds)


def text(*parts):
    # Made at run time, so that the data holds the only reference to it.
    return "".join(parts)


# The found value: each built anew, so that the data holds the only
# reference to every part of it.
VALUES = {
    "dict": lambda: {text("k", str(j)): text("v", str(j)) for j in range(20)},
    "list": lambda: [text("v", str(j)) for j in range(20)],
    "tuple of dicts": lambda: tuple({text("k", str(j)): [j, text("v", str(j))]} for j in range(8)),
    "nested": lambda: {"a": [{"b": text("v", str(j))} for j in range(5)], "c": {"d": text("\u00e9", "e" * 30)}},
    "str": lambda: text("v0 and more", "\u00e9" * 20),
    "wide int": lambda: 2**62 + 12345,
}


def change_found(holder):
    found = holder["x"]["y"]
    if isinstance(found, dict):
        found.clear()
        found[text("z")] = [text("new")]
    elif isinstance(found, list):
        found[:] = [text("new")]
    else:
        holder["x"]["y"] = text("new")


def change_sibling(holder):
    holder["x"]["s"] = {text("new"): [1, 2]}
    holder["w"] = [text("new")]


# What a finaliser does to the data {"x": {"y": value, "s": ...}, "w": ...}.
FINALISERS = {
    "drop the found value": lambda h: h["x"].__setitem__("y", None),
    "change the found value": change_found,
    "drop the parent": lambda h: h.__setitem__("x", None),
    "delete the bindings entry": lambda h: h.pop("x"),
    "change a sibling": change_sibling,
    "clear the data": lambda h: h.clear(),
}

# Each reads the data `h`, which is also the bindings, at the path x.y.
CALLS = {
    "access": lambda h: vintrel.VarAccess("x.y").access(h),
    "access_from_bindings": lambda h: vintrel.VarAccess("x.y").access_from_bindings(h),
    "replace": lambda h: vintrel.VarAccess("x.s").replace(h, [text("r")]),
    "eval": lambda h: vintrel.Exp("x.y").eval(h),
    "eval len": lambda h: vintrel.Exp("len(x.y)").eval(h),
    "eval contains": lambda h: vintrel.Exp('contains(x.y, "v0")').eval(h),
    "eval sibling": lambda h: vintrel.Exp("x.s").eval(h),
}


class Finaliser:
    """Cyclic garbage whose finaliser runs `action` on the data."""

    def __init__(self, holder, action):
        self.holder, self.action, self.me = holder, action, self

    def __del__(self):
        self.action(self.holder)


def make_data(value):
    return {"x": {"y": value(), "s": [text("s", str(j)) for j in range(5)]}, "w": {"v": text("w")}}


def take_free_lists():
    # Lists and dicts made while CPython keeps freed ones for reuse come
    # from those and run no collection; with them taken, the next one does.
    return [[] for _ in range(100)], [{} for _ in range(100)]


def outcome(call, holder):
    try:
        return call(holder)
    except Exception as e:  # noqa: BLE001 - the class is what is compared
        return type(e)


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
@pytest.mark.parametrize("action", FINALISERS.values(), ids=FINALISERS.keys())
@pytest.mark.parametrize("value", VALUES.values(), ids=VALUES.keys())
def test_finaliser_changes_the_data_during_a_read(eager_collector, value, action, call):
    # The outcomes before and after the finaliser, worked out without one.
    data = make_data(value)
    changed = copy.deepcopy(data)
    action(changed)
    allowed = [outcome(call, copy.deepcopy(data)), outcome(call, changed)]
    for _ in range(8):
        data = make_data(value)
        held = take_free_lists()
        gc.disable()
        Finaliser(data, action)
        gc.enable()
        assert outcome(call, data) in allowed
        del held


# The direct reads of a dict's table, at each width of its index (one byte
# up to 128 slots, two up to 32768, four beyond), over tables of str keys
# only and over tables that held another key once (which store hashes).
@pytest.mark.parametrize("size", [50, 5000, 40000], ids=["1-byte index", "2-byte index", "4-byte index"])
@pytest.mark.parametrize("other_key", [False, True], ids=["str keys", "any keys"])
@pytest.mark.parametrize("prefix", ["k", "\u00e9", "\U0001f600"], ids=["ascii", "latin-1", "astral"])
def test_dict_table_lookups(size, other_key, prefix):
    data = {1: None} if other_key else {}
    # Keys made at run time are not the compiled names' own objects, so
    # that their text is compared.
    data.update({text(prefix, str(i)): i for i in range(size)})
    if other_key:
        del data[1]
    for i in range(0, size, 3):
        del data[text(prefix, str(i))]
    probes = sorted({1, 2, size // 2, size - 1, size - 2} | set(range(1, size, size // 7 + 1)))
    for i in probes:
        name = prefix + str(i)
        access = vintrel.VarAccess(f"'{name}'")
        if i % 3 == 0:
            with pytest.raises(NameError):
                access.access(data)
            continue
        assert access.access(data) == i
        assert access.access_from_bindings(data) == i
        assert vintrel.Exp(f"d.'{name}' == {i}").eval({"d": data}) is True
        assert vintrel.VarAccess(f"d.'{name}'").access_from_bindings({"d": data}) == i
    for missing in [prefix + str(size), prefix, prefix + "0" * 3]:
        with pytest.raises(NameError):
            vintrel.VarAccess(f"'{missing}'").access(data)
