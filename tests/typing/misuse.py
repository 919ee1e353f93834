"""Wrong calls, each of which the stubs must make a type checker flag.
Every line carries the ignore comment of the error it must raise, and both
checkers run with unused ignores reported as errors: a wrong call that went
unflagged leaves its comment unused and fails the check. Pyright reads only
its own comments here (enableTypeIgnoreComments is off)."""

from vintrel import Exp, VarAccess

e = Exp("a")
v = VarAccess("a")

Exp(1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
Exp()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
Exp(exp="a")  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
e.eval()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
e.eval([("a", 1)])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
e.eval({1: 2})  # type: ignore[dict-item]  # pyright: ignore[reportArgumentType]
e.eval({"a": 1}, {"b": 2})  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
e.compile()  # type: ignore[attr-defined]  # pyright: ignore[reportAttributeAccessIssue, reportUnknownMemberType]
VarAccess(None)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
v.access()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
v.access(value={})  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
v.replace({"a": 1})  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
v.access_from_bindings("a")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]


class Rule(Exp):  # type: ignore[misc]  # pyright: ignore[reportGeneralTypeIssues]
    pass
