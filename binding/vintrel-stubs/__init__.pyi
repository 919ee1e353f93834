# The types of the extension module vintrel. The module is one shared
# object, not a package, so its types ship as this stub-only package.
from typing import Any, ClassVar, final

__all__ = ["Exp", "VarAccess"]

@final
class Exp:
    """A compiled expression, evaluated any number of times."""

    def __init__(self, exp: str, /) -> None: ...
    def eval(self, bindings: dict[str, Any]) -> Any:
        """Evaluate the expression with the given variable bindings."""

    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class VarAccess:
    """A compiled variable path, read from or replaced in data."""

    def __init__(self, accessor: str, /) -> None: ...
    def access(self, value: object, /) -> Any:
        """Access the variable specified by this path from the given JSON value."""

    def replace(self, value: object, replacement: object, /) -> Any:
        """Replace the variable specified by this path in the given JSON value with a new value."""

    def access_from_bindings(self, bindings: dict[str, Any], /) -> Any:
        """Access the variable specified by this path from the given variable bindings."""
