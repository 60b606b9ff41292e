#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halvorsted::json {

// A parsed value. Every field exists whatever the kind; the unused ones keep their defaults.
struct JsonValue
{
  enum class Kind : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;
  // Members in input order; duplicate keys are all kept.
  std::vector<std::pair<std::string, JsonValue>> members;

  // Declared here, defaulted below: the member pair must see a complete JsonValue (clang insists).
  JsonValue();
  JsonValue(const JsonValue&);
  JsonValue(JsonValue&&) noexcept;
  JsonValue& operator=(const JsonValue&);
  JsonValue& operator=(JsonValue&&) noexcept;
  ~JsonValue();

  // The value of the first member with this key, or null (also when this is not an object).
  const JsonValue* Find(const std::string& key) const;
};

inline JsonValue::JsonValue() = default;
inline JsonValue::JsonValue(const JsonValue&) = default;
inline JsonValue::JsonValue(JsonValue&&) noexcept = default;
inline JsonValue& JsonValue::operator=(const JsonValue&) = default;
inline JsonValue& JsonValue::operator=(JsonValue&&) noexcept = default;
inline JsonValue::~JsonValue() = default;

// The root value of a whole text (whitespace around it allowed), or nothing.
std::optional<JsonValue> Parse(const std::string& text);

// The bytes as a JSON string literal, quotes included.
std::string QuoteString(const std::string& text);

} // namespace halvorsted::json
