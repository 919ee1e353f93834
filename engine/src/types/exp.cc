#include "vintrel/exp.h"

#include <algorithm>
#include <utility>

#include "vintrel/panic.h"

namespace vintrel {

// Payload indices, by the order of Exp::Payload.
enum : size_t { kValue = 0, kFunction = 1, kVariable = 2, kNot = 3, kBinary = 4, kArray = 5, kObject = 6 };

Exp Exp::value(vintrel::Value v) { return Exp(Kind::Value, Payload(std::in_place_index<kValue>, std::move(v))); }
Exp Exp::function(FunctionItem f) {
  return Exp(Kind::Function, Payload(std::in_place_index<kFunction>, std::move(f)));
}
Exp Exp::variable(VarAccess v) { return Exp(Kind::Variable, Payload(std::in_place_index<kVariable>, std::move(v))); }
Exp Exp::not_(Exp operand) {
  return Exp(Kind::Not, Payload(std::in_place_index<kNot>, std::make_unique<Exp>(std::move(operand))));
}
// The operands move into one new allocation each, left first.
Exp Exp::binary(Kind kind, Exp left, Exp right) {
  if (kind < Kind::Or || kind > Kind::Leq) panic("Exp::binary needs a two-operand kind");
  Binary b{std::make_unique<Exp>(std::move(left)), std::make_unique<Exp>(std::move(right))};
  return Exp(kind, Payload(std::in_place_index<kBinary>, std::move(b)));
}
Exp Exp::or_(Exp left, Exp right) { return binary(Kind::Or, std::move(left), std::move(right)); }
Exp Exp::and_(Exp left, Exp right) { return binary(Kind::And, std::move(left), std::move(right)); }
Exp Exp::eq(Exp left, Exp right) { return binary(Kind::Eq, std::move(left), std::move(right)); }
Exp Exp::neq(Exp left, Exp right) { return binary(Kind::Neq, std::move(left), std::move(right)); }
Exp Exp::gt(Exp left, Exp right) { return binary(Kind::Gt, std::move(left), std::move(right)); }
Exp Exp::lt(Exp left, Exp right) { return binary(Kind::Lt, std::move(left), std::move(right)); }
Exp Exp::geq(Exp left, Exp right) { return binary(Kind::Geq, std::move(left), std::move(right)); }
Exp Exp::leq(Exp left, Exp right) { return binary(Kind::Leq, std::move(left), std::move(right)); }
Exp Exp::array(std::vector<Exp> elements) {
  return Exp(Kind::Array, Payload(std::in_place_index<kArray>, std::move(elements)));
}
Exp Exp::object(ExpObject entries) {
  return Exp(Kind::Object, Payload(std::in_place_index<kObject>, std::move(entries)));
}

// ---------------------------------------------------------------------------
// Child links of a payload, for the walks below.

namespace {

// Calls f(Exp&) on every direct child, in source order; a moved-from
// operand cell (null) is skipped.
template <class P, class F>
void for_each_child(P& payload, F&& f) {
  switch (payload.index()) {
    case kFunction:
      for (auto& a : std::get_if<kFunction>(&payload)->args) f(a);
      break;
    case kNot:
      if (auto& p = *std::get_if<kNot>(&payload)) f(*p);
      break;
    case kBinary: {
      auto& b = *std::get_if<kBinary>(&payload);
      if (b.left) f(*b.left);
      if (b.right) f(*b.right);
      break;
    }
    case kArray:
      for (auto& e : *std::get_if<kArray>(&payload)) f(e);
      break;
    case kObject:
      for (auto& e : *std::get_if<kObject>(&payload)) f(e.second);
      break;
    default: break;
  }
}

template <class P>
bool has_children(const P& payload) {
  switch (payload.index()) {
    case kFunction: return !std::get_if<kFunction>(&payload)->args.empty();
    case kNot: return *std::get_if<kNot>(&payload) != nullptr;
    case kBinary: {
      const auto& b = *std::get_if<kBinary>(&payload);
      return b.left || b.right;
    }
    case kArray: return !std::get_if<kArray>(&payload)->empty();
    case kObject: return !std::get_if<kObject>(&payload)->empty();
    default: return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Destruction: children are moved onto an explicit stack before their
// parent is released, so each node dies with no children left in it.

Exp::~Exp() {
  // A node whose children are all leaves needs one native level at most.
  bool deep = false;
  for_each_child(payload_, [&](const Exp& c) { deep = deep || has_children(c.payload_); });
  if (!deep) return;

  std::vector<Exp> stack;
  auto detach = [&stack](Payload& p) {
    for_each_child(p, [&stack](Exp& c) { stack.push_back(std::move(c)); });
    // The moved-from children are empty; drop their containers now.
    p.emplace<kValue>();
  };
  detach(payload_);
  while (!stack.empty()) {
    Exp node = std::move(stack.back());
    stack.pop_back();
    if (has_children(node.payload_)) detach(node.payload_);
  }
}

// The old tree is released after the new one is in place, so `other` may
// be a node inside the old tree.
Exp& Exp::operator=(Exp&& other) noexcept {
  if (this == &other) return *this;
  Exp old(std::move(*this));
  kind_ = other.kind_;
  payload_ = std::move(other.payload_);
  return *this;
}

Exp& Exp::operator=(const Exp& other) {
  if (this == &other) return *this;
  Exp copy(other);
  *this = std::move(copy);
  return *this;
}

// ---------------------------------------------------------------------------
// Copy: each destination node gets its shape (with leaf placeholders for
// the children) and the (source, destination) pairs of its children go on
// the stack. Borrowed literal text stays borrowed.

Exp::Exp(const Exp& other) : kind_(other.kind_), payload_() {
  // Literals and paths, the most common nodes, need no stack.
  if (const auto* v = std::get_if<kValue>(&other.payload_)) {
    payload_.emplace<kValue>(*v);
    return;
  }
  if (const auto* p = std::get_if<kVariable>(&other.payload_)) {
    payload_.emplace<kVariable>(*p);
    return;
  }
  std::vector<std::pair<const Exp*, Exp*>> stack;
  stack.emplace_back(&other, this);
  auto placeholder = [] { return Exp(Kind::Value, Payload()); };
  while (!stack.empty()) {
    auto [src, dst] = stack.back();
    stack.pop_back();
    dst->kind_ = src->kind_;
    const Payload& sp = src->payload_;
    size_t first_child = stack.size();
    switch (sp.index()) {
      case kValue: dst->payload_.emplace<kValue>(*std::get_if<kValue>(&sp)); break;
      case kVariable: dst->payload_.emplace<kVariable>(*std::get_if<kVariable>(&sp)); break;
      case kFunction: {
        const FunctionItem& sf = *std::get_if<kFunction>(&sp);
        FunctionItem& df = dst->payload_.emplace<kFunction>(FunctionItem{sf.name, {}, sf.builtin, sf.literal_pattern});
        df.args.reserve(sf.args.size());
        for (size_t i = 0; i < sf.args.size(); ++i) df.args.push_back(placeholder());
        for (size_t i = 0; i < sf.args.size(); ++i) stack.emplace_back(&sf.args[i], &df.args[i]);
        break;
      }
      case kNot: {
        const auto& so = *std::get_if<kNot>(&sp);
        auto& d = dst->payload_.emplace<kNot>();
        if (so) {
          d = std::make_unique<Exp>(placeholder());
          stack.emplace_back(so.get(), d.get());
        }
        break;
      }
      case kBinary: {
        const Binary& sb = *std::get_if<kBinary>(&sp);
        Binary& db = dst->payload_.emplace<kBinary>();
        if (sb.left) {
          db.left = std::make_unique<Exp>(placeholder());
          stack.emplace_back(sb.left.get(), db.left.get());
        }
        if (sb.right) {
          db.right = std::make_unique<Exp>(placeholder());
          stack.emplace_back(sb.right.get(), db.right.get());
        }
        break;
      }
      case kArray: {
        const auto& sa = *std::get_if<kArray>(&sp);
        auto& da = dst->payload_.emplace<kArray>();
        da.reserve(sa.size());
        for (size_t i = 0; i < sa.size(); ++i) da.push_back(placeholder());
        for (size_t i = 0; i < sa.size(); ++i) stack.emplace_back(&sa[i], &da[i]);
        break;
      }
      case kObject: {
        const ExpObject& so = *std::get_if<kObject>(&sp);
        ExpObject& dm = dst->payload_.emplace<kObject>();
        dm.reserve(so.size());
        for (const auto& e : so) dm.push_back_sorted(e.first, placeholder());
        auto d = dm.begin();
        for (auto s = so.begin(); s != so.end(); ++s, ++d) stack.emplace_back(&s->second, &d->second);
        break;
      }
    }
    // Visit the children in source order (the stack pops the last first).
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first_child), stack.end());
  }
}

// ---------------------------------------------------------------------------
// Equality: pairs of nodes still to compare on a stack; the first
// difference ends the walk.

bool operator==(const Exp& a, const Exp& b) {
  std::vector<std::pair<const Exp*, const Exp*>> stack;
  stack.emplace_back(&a, &b);
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->kind_ != y->kind_ || x->payload_.index() != y->payload_.index()) return false;
    const Exp::Payload& xp = x->payload_;
    const Exp::Payload& yp = y->payload_;
    size_t first_child = stack.size();
    switch (xp.index()) {
      case kValue:
        if (!(*std::get_if<kValue>(&xp) == *std::get_if<kValue>(&yp))) return false;
        break;
      case kVariable:
        if (!(*std::get_if<kVariable>(&xp) == *std::get_if<kVariable>(&yp))) return false;
        break;
      case kFunction: {
        const FunctionItem& fx = *std::get_if<kFunction>(&xp);
        const FunctionItem& fy = *std::get_if<kFunction>(&yp);
        if (fx.name != fy.name || fx.args.size() != fy.args.size()) return false;
        for (size_t i = 0; i < fx.args.size(); ++i) stack.emplace_back(&fx.args[i], &fy.args[i]);
        break;
      }
      case kNot: {
        const auto& ox = *std::get_if<kNot>(&xp);
        const auto& oy = *std::get_if<kNot>(&yp);
        if (!ox || !oy) {
          if (ox || oy) return false;
          break;
        }
        stack.emplace_back(ox.get(), oy.get());
        break;
      }
      case kBinary: {
        const Exp::Binary& bx = *std::get_if<kBinary>(&xp);
        const Exp::Binary& by = *std::get_if<kBinary>(&yp);
        if (!bx.left != !by.left || !bx.right != !by.right) return false;
        if (bx.left) stack.emplace_back(bx.left.get(), by.left.get());
        if (bx.right) stack.emplace_back(bx.right.get(), by.right.get());
        break;
      }
      case kArray: {
        const auto& ax = *std::get_if<kArray>(&xp);
        const auto& ay = *std::get_if<kArray>(&yp);
        if (ax.size() != ay.size()) return false;
        for (size_t i = 0; i < ax.size(); ++i) stack.emplace_back(&ax[i], &ay[i]);
        break;
      }
      case kObject: {
        const auto& ex = std::get_if<kObject>(&xp)->entries();
        const auto& ey = std::get_if<kObject>(&yp)->entries();
        if (ex.size() != ey.size()) return false;
        for (size_t i = 0; i < ex.size(); ++i)
          if (ex[i].first != ey[i].first) return false;
        for (size_t i = 0; i < ex.size(); ++i) stack.emplace_back(&ex[i].second, &ey[i].second);
        break;
      }
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first_child), stack.end());
  }
  return true;
}

// ---------------------------------------------------------------------------
// Detach from the source text: every literal becomes owned, in place.
// Names, paths and object keys are owned already. Object entries are
// rebuilt through a stable sort, which keeps their (unique, sorted) keys
// exactly as they are.

Exp Exp::into_owned() && {
  std::vector<Exp*> stack;
  stack.push_back(this);
  while (!stack.empty()) {
    Exp* node = stack.back();
    stack.pop_back();
    Payload& p = node->payload_;
    if (auto* v = std::get_if<kValue>(&p)) {
      *v = std::move(*v).into_owned();
      continue;
    }
    if (auto* m = std::get_if<kObject>(&p)) *m = ExpObject::from_entries(std::move(*m).take_entries());
    size_t first_child = stack.size();
    for_each_child(p, [&stack](Exp& c) { stack.push_back(&c); });
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first_child), stack.end());
  }
  return std::move(*this);
}

void for_each_variable(Exp& root, const std::function<void(VarAccess&)>& f) {
  std::vector<Exp*> stack{&root};
  while (!stack.empty()) {
    Exp* node = stack.back();
    stack.pop_back();
    Exp::Payload& p = node->payload_mut();
    if (auto* v = std::get_if<kVariable>(&p)) f(*v);
    for_each_child(p, [&stack](Exp& c) { stack.push_back(&c); });
  }
}

}  // namespace vintrel
