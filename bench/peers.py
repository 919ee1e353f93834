"""Adapters that turn one expression of a peer evaluator into a zero-argument
callable, each through the peer's fastest documented compile-once,
evaluate-many path.

Every adapter takes the expression in the peer's own language and the
bindings dict exactly as a user holds it, and returns a callable that does
what one `Exp.eval(bindings)` call does: evaluate over that dict and hand a
Python value back. Conversions a peer needs per call (celpy's CEL types,
jsonlogic's JSON text) are part of the call, as they are for vintrel.
"""

import builtins
import importlib
import json

# Import name of each peer: the column order of the table.
PEER_MODULES = {
    "jmespath": "jmespath",
    "celpy": "celpy",
    "cel": "cel",
    "celcpp": "cel_expr_python.cel",
    "jsonlogic": "jsonlogic_rs",
    "simpleeval": "simpleeval",
}

# The PyPI distribution that provides each peer (for messages only).
PEER_DISTRIBUTIONS = {
    "jmespath": "jmespath",
    "celpy": "cel-python",
    "cel": "common-expression-language",
    "celcpp": "cel-expr-python",
    "jsonlogic": "jsonlogic-rs",
    "simpleeval": "simpleeval",
}


def load_peers():
    """Imports every peer that is installed; returns (modules, missing)
    where missing maps a peer name to the reason it is absent."""
    modules, missing = {}, {}
    for name, mod in PEER_MODULES.items():
        try:
            modules[name] = importlib.import_module(mod)
        except Exception as exc:  # any import failure just drops the column
            missing[name] = f"{type(exc).__name__}: {exc}"
    return modules, missing


def version_of(name):
    from importlib import metadata
    try:
        return metadata.version(PEER_DISTRIBUTIONS[name])
    except Exception:
        return "?"


# A globals dict shared by every CPython eval() call, so that no call pays
# for building one; the bindings are passed as the locals mapping.
_EVAL_GLOBALS = {"__builtins__": builtins}


def cpython_eval(source, bindings, modules=()):
    """`modules`: names of modules the expression uses (such as re), made
    globals of the evaluation."""
    code = compile(source, "<e>", "eval")
    g = _EVAL_GLOBALS
    if modules:
        g = dict(g, **{name: importlib.import_module(name) for name in modules})
    return lambda: eval(code, g, bindings)


def cycling(make, bindings_list):
    """One callable per bindings dict, called in turn: a row whose data
    changes on every call."""
    calls = [make(b) for b in bindings_list]
    n = len(calls)
    state = [0]

    def run():
        i = state[0]
        state[0] = i + 1 if i + 1 < n else 0
        return calls[i]()

    return run


def jmespath_call(mod, source, bindings):
    # compile() returns a ParsedResult whose search() walks the tree.
    parsed = mod.compile(source)
    return lambda: parsed.search(bindings)


def celpy_call(mod, source, bindings):
    # The transpiling runner is the faster of celpy's two runners; the
    # bindings have to become CEL values on every call.
    env = mod.Environment(runner_class=mod.CompiledRunner)
    program = env.program(env.compile(source))
    to_cel = mod.json_to_cel

    def run():
        return program.evaluate({k: to_cel(v) for k, v in bindings.items()})

    return run


def cel_call(mod, source, bindings, stdlib=False):
    program = mod.compile(source)
    if not stdlib:
        return lambda: program.execute(bindings)
    # split/join come from the package's extended standard library, which
    # registers Python callables on a Context.
    from cel.stdlib import add_stdlib_to_context

    ctx = mod.Context()
    add_stdlib_to_context(ctx)

    def run():
        ctx.update(bindings)
        return program.execute(ctx)

    return run


def celcpp_env(mod, names):
    # Every binding is declared dynamic: the data is JSON-like, as it is
    # for every other peer.
    return mod.NewEnv(variables={name: mod.Type.DYN for name in names})


def celcpp_call(mod, source, bindings):
    program = celcpp_env(mod, bindings).compile(source)
    return lambda: program.eval(data=bindings).plain_value()


def jsonlogic_call(mod, rule, bindings):
    # The Rust core takes JSON text; the rule is serialised once, the data
    # on every call, and the result parsed back.
    rule_text = json.dumps(rule)
    apply = mod.apply_serialized
    dumps, loads = json.dumps, json.loads
    return lambda: apply(rule_text, dumps(bindings), loads)


def simpleeval_call(mod, source, bindings, functions=None):
    funcs = dict(mod.DEFAULT_FUNCTIONS)
    if functions:
        funcs.update(functions)
    evaluator = mod.EvalWithCompoundTypes(functions=funcs, names=bindings)
    node = evaluator.parse(source)
    return lambda: evaluator.eval(source, previously_parsed=node)


def build_peer(name, mod, spec, bindings):
    """One callable for peer `name` from its entry in a case's table of peer
    expressions, or None when the case has no expression for it."""
    if spec is None:
        return None
    if name == "jmespath":
        return jmespath_call(mod, spec, bindings)
    if name == "celpy":
        return celpy_call(mod, spec, bindings)
    if name == "cel":
        if isinstance(spec, tuple):
            source, opts = spec
            return cel_call(mod, source, bindings, **opts)
        return cel_call(mod, spec, bindings)
    if name == "celcpp":
        return celcpp_call(mod, spec, bindings)
    if name == "jsonlogic":
        return jsonlogic_call(mod, spec, bindings)
    if name == "simpleeval":
        if isinstance(spec, tuple):
            source, opts = spec
            return simpleeval_call(mod, source, bindings, **opts)
        return simpleeval_call(mod, spec, bindings)
    raise KeyError(name)


def build_peer_parse(name, mod, source):
    """A callable that compiles `source` from scratch in peer `name`'s
    compile-once path, or None when that path caches by text (timing it
    would time a dict lookup)."""
    if name == "celpy":
        env = mod.Environment(runner_class=mod.CompiledRunner)
        return lambda: env.program(env.compile(source))
    if name == "cel":
        return lambda: mod.compile(source)
    if name == "celcpp":
        env = celcpp_env(mod, ["user"])
        return lambda: env.compile(source)
    if name == "simpleeval":
        return lambda: mod.SimpleEval.parse(source)
    # jmespath.compile keeps a cache keyed by the text; jsonlogic has no
    # compile step at all.
    return None
