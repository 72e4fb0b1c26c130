#include "base/variant.h"

#include "base/date.h"

namespace oa {

Variant Variant::Binary(const std::vector<uint8_t>& bytes) {
  VariantArray a;
  a.reserve(bytes.size());
  for (uint8_t b : bytes) a.push_back(Variant::Byte(b));
  return Variant::Array(std::move(a));
}

std::string Variant::ToText() const {
  switch (type()) {
    case Type::Empty:
      return "";
    case Type::Integer:
      return std::to_string(AsInteger());
    case Type::Long:
      return std::to_string(AsLong());
    case Type::Boolean:
      return AsBoolean() ? "True" : "False";
    case Type::Date:
      return GeneralDateText(AsDate());
    case Type::String:
      return AsString();
    case Type::Byte:
      return std::to_string(AsByte());
    case Type::Array:
      return "";
  }
  return "";
}

std::string TypeName(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::Empty:
      return "Empty";
    case Variant::Type::Integer:
      return "Integer";
    case Variant::Type::Long:
      return "Long";
    case Variant::Type::Boolean:
      return "Boolean";
    case Variant::Type::Date:
      return "Date";
    case Variant::Type::String:
      return "String";
    case Variant::Type::Byte:
      return "Byte";
    case Variant::Type::Array:
      return "Variant()";
  }
  return "Unknown";
}

}  // namespace oa
