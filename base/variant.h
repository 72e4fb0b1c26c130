// A small variant of our own that keeps the run-time type distinctions the mailbox code tests
// on ("String", "Long", "Date", "Variant()", ...), as the agent's original tooling did.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace oa {

// A point in time as days since 30 December 1899 00:00 local time, fractions for the time of
// day (the automation date). Kept as its own type so that a date is never mistaken for a number.
struct Date {
  double value = 0.0;
  friend bool operator==(const Date&, const Date&) = default;
  friend auto operator<=>(const Date&, const Date&) = default;
};

class Variant;
using VariantArray = std::vector<Variant>;

class Variant {
 public:
  enum class Type { Empty, Integer, Long, Boolean, Date, String, Byte, Array };

  Variant() = default;
  static Variant Integer(int16_t v) { return Variant(Storage(std::in_place_index<1>, v)); }
  static Variant Long(int32_t v) { return Variant(Storage(std::in_place_index<2>, v)); }
  static Variant Boolean(bool v) { return Variant(Storage(std::in_place_index<3>, v)); }
  static Variant FromDate(oa::Date v) { return Variant(Storage(std::in_place_index<4>, v)); }
  static Variant String(std::string v) {
    return Variant(Storage(std::in_place_index<5>, std::move(v)));
  }
  static Variant Byte(uint8_t v) { return Variant(Storage(std::in_place_index<6>, v)); }
  static Variant Array(VariantArray v) {
    return Variant(Storage(std::in_place_index<7>, std::move(v)));
  }
  // Binary data as the library hands it out: an array of Byte variants.
  static Variant Binary(const std::vector<uint8_t>& bytes);

  Type type() const { return static_cast<Type>(storage_.index()); }
  bool IsEmpty() const { return type() == Type::Empty; }
  bool IsArray() const { return type() == Type::Array; }

  // Accessors; each requires the matching type().
  int16_t AsInteger() const { return std::get<1>(storage_); }
  int32_t AsLong() const { return std::get<2>(storage_); }
  bool AsBoolean() const { return std::get<3>(storage_); }
  oa::Date AsDate() const { return std::get<4>(storage_); }
  const std::string& AsString() const { return std::get<5>(storage_); }
  uint8_t AsByte() const { return std::get<6>(storage_); }
  const VariantArray& AsArray() const { return std::get<7>(storage_); }

  // The conversion to text the code uses when it stores a value as a string: empty for Empty,
  // decimal for numbers, "True"/"False", the locale general date, concatenated bytes never.
  std::string ToText() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  using Storage = std::variant<std::monostate, int16_t, int32_t, bool, oa::Date, std::string,
                               uint8_t, VariantArray>;
  explicit Variant(Storage s) : storage_(std::move(s)) {}
  Storage storage_;
};

// The platform's type-name function: "Empty", "Integer", "Long", "Boolean", "Date", "String",
// "Byte", and for arrays of variants "Variant()".
std::string TypeName(const Variant& v);

}  // namespace oa
