// Variant: the dynamically typed value of every public argument and result.
//
// Empty (never assigned) and Null (no value) are distinct kinds and stay distinct. An Object
// holds a shared reference to a late-bound object, or nothing. Reading a Variant as another
// type goes through common/Convert.h; the accessors here only return what is held.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"

namespace ledgerkit {

class Dispatch;

enum class VarType { kEmpty, kNull, kInteger, kLong, kDouble, kCurrency, kDate, kString, kBoolean, kObject };

// The type's name as a caller reads it ("Empty", "Long", "Currency", ...).
std::string_view VarTypeName(VarType type);

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(int32_t value) : value_(value) {}  // Long
  // Every other integer type (signed or unsigned, 8 to 64 bits, char types included): a value
  // that fits 32 bits is a Long, as from int32_t; one outside that range is a Double, as the
  // bridge reads such a number (exact up to 2^53 in magnitude, nearest beyond). Integer
  // (16 bits) is made by Integer() only, never implicitly.
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, int32_t>)
  Variant(T value) : value_(FromInteger(value)) {}
  Variant(double value) : value_(value) {}
  // float and long double: a Double.
  template <class T>
    requires(std::is_floating_point_v<T> && !std::is_same_v<T, double>)
  Variant(T value) : value_(static_cast<double>(value)) {}
  Variant(Currency value) : value_(value) {}
  Variant(Date value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::string_view value) : value_(std::string(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}
  Variant(bool value) : value_(value) {}
  Variant(std::shared_ptr<Dispatch> object) : value_(std::move(object)) {}
  template <class T>
    requires std::is_base_of_v<Dispatch, T>
  Variant(std::shared_ptr<T> object) : value_(std::shared_ptr<Dispatch>(std::move(object))) {}

  static Variant Null() { return Variant(NullTag{}); }
  static Variant Integer(int16_t value) { return Variant(IntegerTag{value}); }
  static Variant Nothing() { return Variant(std::shared_ptr<Dispatch>()); }

  VarType type() const { return static_cast<VarType>(value_.index()); }
  bool IsEmpty() const { return type() == VarType::kEmpty; }
  bool IsNull() const { return type() == VarType::kNull; }
  bool IsObject() const { return type() == VarType::kObject; }
  // An Object that refers to no object.
  bool IsNothing() const { return IsObject() && !AsObject(); }

  // Direct access to the held value; each requires the matching type().
  int16_t AsInteger() const { return std::get<IntegerTag>(value_).value; }
  int32_t AsLong() const { return std::get<int32_t>(value_); }
  double AsDouble() const { return std::get<double>(value_); }
  Currency AsCurrency() const { return std::get<Currency>(value_); }
  Date AsDate() const { return std::get<Date>(value_); }
  const std::string& AsString() const { return std::get<std::string>(value_); }
  bool AsBoolean() const { return std::get<bool>(value_); }
  const std::shared_ptr<Dispatch>& AsObject() const { return std::get<std::shared_ptr<Dispatch>>(value_); }

  // Same type and same value (objects: the same object). Null equals Null here: this is
  // identity of values, not the SQL or three-valued comparison.
  bool operator==(const Variant& other) const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct IntegerTag {
    int16_t value;
    bool operator==(const IntegerTag&) const = default;
  };
  explicit Variant(NullTag tag) : value_(tag) {}
  explicit Variant(IntegerTag tag) : value_(tag) {}

  // The order of the alternatives is the order of VarType.
  using Storage = std::variant<std::monostate, NullTag, IntegerTag, int32_t, double, Currency, Date, std::string,
                               bool, std::shared_ptr<Dispatch>>;

  template <class T>
  static Storage FromInteger(T value) {
    bool fits = false;
    if constexpr (std::is_signed_v<T>) {
      const long long wide = value;
      fits = wide >= INT32_MIN && wide <= INT32_MAX;
    } else {
      const unsigned long long wide = value;
      fits = wide <= static_cast<unsigned long long>(INT32_MAX);
    }
    if (fits) return Storage(std::in_place_type<int32_t>, static_cast<int32_t>(value));
    return Storage(std::in_place_type<double>, static_cast<double>(value));
  }

  Storage value_;
};

}  // namespace ledgerkit
