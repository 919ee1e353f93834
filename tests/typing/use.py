"""Every method of the module, called as its types allow: mypy --strict and
pyright in strict mode must pass this file against the installed stubs."""

from typing import Any

from vintrel import Exp, VarAccess

rule: Exp = Exp("user.age >= 18 && startsWith(user.name, 'A')")
bindings: dict[str, Any] = {"user": {"age": 30, "name": "Ada"}}
allowed: Any = rule.eval(bindings)
also_allowed: Any = rule.eval(bindings={"user": {"age": 1, "name": "Bo"}})
counts: dict[str, int] = {"n": 1}
rule.eval(counts)
same_rule: bool = rule == Exp("1")

path: VarAccess = VarAccess("a.b[1]")
data = {"a": {"b": [10, 20]}}
second: Any = path.access(data)
changed: Any = path.replace(data, 99)
from_bindings: Any = path.access_from_bindings({"a": {"b": [1, 2]}})
paths: set[VarAccess] = {path, VarAccess("a")}
