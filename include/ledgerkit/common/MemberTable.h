// Building member tables from typed methods: MethodMember<&C::F>("Name", {"Arg1", "Arg2"}) and
// PropertyMember<&C::P>("Name") make an entry whose arity, argument passing and returned type
// come from F's own signature, so a member is written once, as an ordinary C++ method, and
// reached late-bound through the same code. The argument names are F's parameter names, in
// order; the compiler refuses a list whose length is not F's arity. A member returning a
// collection names the entity class it holds: MethodMember<&C::F, ACAccount>(...).
//
// A member method takes each argument as `const Variant&` or, when it writes the argument back,
// `Variant&`; it returns void, a Variant, or a value a Variant holds (bool, int32_t, double,
// std::string, Currency, Date, a shared_ptr to a Dispatch class).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Dispatch.h"

namespace ledgerkit {

class EntityCollection;
class Recordset;

namespace member_detail {

// Bit i set when the i-th parameter is a `Variant&`: an argument the method writes back.
template <class... A>
constexpr uint32_t WrittenBackMask() {
  static_assert(sizeof...(A) <= 32, "a member takes at most 32 arguments");
  uint32_t mask = 0;
  uint32_t bit = 1;
  ((mask |= std::is_same_v<A, Variant&> ? bit : 0u, bit <<= 1), ...);
  return mask;
}

template <class Method>
struct MethodTraits;
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...)> {
  using Class = C;
  using Result = R;
  static constexpr size_t kArity = sizeof...(A);
  static constexpr uint32_t kWrittenBack = WrittenBackMask<A...>();
};
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...) const> {
  using Class = C;
  using Result = R;
  static constexpr size_t kArity = sizeof...(A);
  static constexpr uint32_t kWrittenBack = WrittenBackMask<A...>();
};

template <class T>
struct IsShared : std::false_type {};
template <class T>
struct IsShared<std::shared_ptr<T>> : std::true_type {
  using Pointee = T;
};

// The word a caller sees for what a member returns, from its C++ return type R. An entity
// class is named by its table; a collection by the class of its rows, `Element`, which a
// collection-returning member must give and no other member may.
template <class R, class Element>
std::string ResultWord() {
  constexpr bool kIsCollection = std::is_same_v<R, std::shared_ptr<EntityCollection>>;
  static_assert(kIsCollection == !std::is_void_v<Element>,
                "a member returning a collection names its entity class, and only such a member does");
  if constexpr (kIsCollection) {
    return "Collection of " + std::string(Element::Def().table);
  } else if constexpr (std::is_void_v<R>) {
    return "nothing";
  } else if constexpr (std::is_same_v<R, Variant>) {
    return "Variant";
  } else if constexpr (std::is_same_v<R, bool>) {
    return "Boolean";
  } else if constexpr (std::is_same_v<R, int16_t>) {
    return "Integer";
  } else if constexpr (std::is_same_v<R, int32_t>) {
    return "Long";
  } else if constexpr (std::is_same_v<R, double>) {
    return "Double";
  } else if constexpr (std::is_same_v<R, std::string>) {
    return "String";
  } else if constexpr (std::is_same_v<R, Currency>) {
    return "Currency";
  } else if constexpr (std::is_same_v<R, Date>) {
    return "Date";
  } else if constexpr (std::is_same_v<R, std::shared_ptr<Recordset>>) {
    return "Recordset";
  } else if constexpr (std::is_same_v<R, std::shared_ptr<Dispatch>>) {
    return "Object";
  } else {
    static_assert(IsShared<R>::value, "a member returns a value a Variant holds or an object");
    return std::string(IsShared<R>::Pointee::Def().table);
  }
}

inline Variant ToVariant(Variant value) { return value; }
inline Variant ToVariant(int16_t value) { return Variant::Integer(value); }
template <class T>
  requires std::is_constructible_v<Variant, T>
Variant ToVariant(T&& value) {
  return Variant(std::forward<T>(value));
}

template <auto Method>
Variant Call(Dispatch& self, const MemberEntry& /*entry*/, std::vector<Variant>& args) {
  using Traits = MethodTraits<decltype(Method)>;
  auto& object = static_cast<typename Traits::Class&>(self);
  return [&]<size_t... I>(std::index_sequence<I...>) -> Variant {
    if constexpr (std::is_void_v<decltype((object.*Method)(args[I]...))>) {
      (object.*Method)(args[I]...);
      return Variant();
    } else {
      return ToVariant((object.*Method)(args[I]...));
    }
  }(std::make_index_sequence<Traits::kArity>{});
}

// The entry of Method; `N`, the number of names given, must be its arity.
template <auto Method, class Element, size_t N>
MemberEntry MakeEntry(std::string_view name, MemberEntry::Kind kind, std::vector<std::string_view> arguments) {
  using Traits = MethodTraits<decltype(Method)>;
  static_assert(N == Traits::kArity, "the argument names must be as many as the method's parameters");
  return MemberEntry{name,
                     kind,
                     Traits::kArity,
                     &Call<Method>,
                     0,
                     std::move(arguments),
                     ResultWord<typename Traits::Result, Element>(),
                     Traits::kWrittenBack};
}

}  // namespace member_detail

// A method member: an operation the caller invokes, with its argument names in order.
template <auto Method, class Element = void, size_t N>
MemberEntry MethodMember(std::string_view name, const std::string_view (&arguments)[N]) {
  return member_detail::MakeEntry<Method, Element, N>(name, MemberEntry::Kind::kMethod, {arguments, arguments + N});
}
// A method member without arguments.
template <auto Method, class Element = void>
MemberEntry MethodMember(std::string_view name) {
  return member_detail::MakeEntry<Method, Element, 0>(name, MemberEntry::Kind::kMethod, {});
}

// A read-only property: arity 0 for a scalar, or with arguments (an object-valued property
// that takes Account).
template <auto Method, class Element = void, size_t N>
MemberEntry PropertyMember(std::string_view name, const std::string_view (&arguments)[N]) {
  return member_detail::MakeEntry<Method, Element, N>(name, MemberEntry::Kind::kProperty, {arguments, arguments + N});
}
template <auto Method, class Element = void>
MemberEntry PropertyMember(std::string_view name) {
  return member_detail::MakeEntry<Method, Element, 0>(name, MemberEntry::Kind::kProperty, {});
}

}  // namespace ledgerkit
