"""A short tour of vintrel: compile once, evaluate many times."""

from vintrel import Exp, VarAccess

orders = [
    {"id": 1, "customer": {"name": "Ada", "tier": "gold"}, "items": ["book", "lamp"], "total": 120.5},
    {"id": 2, "customer": {"name": "Bob", "tier": "basic"}, "items": ["pen"], "total": 3.2},
    {"id": 3, "customer": {"name": "Cy", "tier": "gold"}, "items": [], "total": 0.0},
]

# A rule, compiled once and evaluated against each order.
rule = Exp("order.customer.tier == 'gold' && len(order.items) > 0")
print("gold orders with items:", [o["id"] for o in orders if rule.eval({"order": o})])

# Results are JSON-like Python values.
summary = Exp('{"who": order.customer.name, "label": format("{0} item(s)", string(len(order.items)))}')
for o in orders:
    print(summary.eval({"order": o}))

# Paths read and replace values inside data; the input is never changed.
first_item = VarAccess("items[0]")
print("first item of order 1:", first_item.access(orders[0]))
renamed = VarAccess("customer.name").replace(orders[1], "Robert")
print("renamed:", renamed["customer"], "original:", orders[1]["customer"])

# Every failure is a Python exception with a clear message.
for text, bindings in [("order.missing", {"order": orders[0]}), ("len(1)", {}), ("a b", None)]:
    try:
        print(Exp(text).eval(bindings))
    except (NameError, TypeError, ValueError) as e:
        print(f"{type(e).__name__}: {e}")
