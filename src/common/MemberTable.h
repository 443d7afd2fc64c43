// Building member tables from typed methods: Method<&C::F>("Name") and Property<&C::P>("Name")
// make an entry whose arity and argument passing come from F's own signature, so a member is
// written once, as an ordinary C++ method, and reached late-bound through the same code.
//
// A member method takes each argument as `const Variant&` or, when it writes the argument back,
// `Variant&`; it returns void, a Variant, or a value a Variant holds (bool, int32_t, double,
// std::string, Currency, Date, a shared_ptr to a Dispatch class).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/Dispatch.h"

namespace ledgerkit {

namespace member_detail {

template <class Method>
struct MethodTraits;
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...)> {
  using Class = C;
  static constexpr size_t kArity = sizeof...(A);
};
template <class C, class R, class... A>
struct MethodTraits<R (C::*)(A...) const> {
  using Class = C;
  static constexpr size_t kArity = sizeof...(A);
};

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

}  // namespace member_detail

// A method member: an operation the caller invokes.
template <auto Method>
MemberEntry MethodMember(std::string_view name) {
  return MemberEntry{name, MemberEntry::Kind::kMethod, member_detail::MethodTraits<decltype(Method)>::kArity,
                     &member_detail::Call<Method>};
}

// A read-only property: arity 0 for a scalar, or with arguments (an object-valued property
// that takes Account).
template <auto Method>
MemberEntry PropertyMember(std::string_view name) {
  return MemberEntry{name, MemberEntry::Kind::kProperty, member_detail::MethodTraits<decltype(Method)>::kArity,
                     &member_detail::Call<Method>};
}

}  // namespace ledgerkit
