#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "halvorsted/json/Json.h"

#include <cstddef>
#include <cstdint>
#include <string>

using halvorsted::json::JsonValue;

namespace {

// Whatever the reader accepted must respect its own limits and survive the writer.
void CheckTree(const JsonValue& value, int depth)
{
  FUZZ_CHECK(depth <= 8);
  switch (value.kind)
  {
    case JsonValue::Kind::String:
    {
      const auto again = halvorsted::json::Parse(halvorsted::json::QuoteString(value.text));
      FUZZ_CHECK(again && again->kind == JsonValue::Kind::String && again->text == value.text);
      break;
    }
    case JsonValue::Kind::Array:
      FUZZ_CHECK(value.members.empty());
      for (const auto& item : value.items)
        CheckTree(item, depth + 1);
      break;
    case JsonValue::Kind::Object:
      FUZZ_CHECK(value.items.empty());
      for (const auto& [key, member] : value.members)
      {
        const JsonValue* found = value.Find(key);
        FUZZ_CHECK(found != nullptr);
        CheckTree(member, depth + 1);
      }
      break;
    default:
      FUZZ_CHECK(value.items.empty() && value.members.empty());
      break;
  }
}

} // namespace

namespace fuzz {

int Json(const std::uint8_t* data, std::size_t size)
{
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const auto value = halvorsted::json::Parse(text))
    CheckTree(*value, 0);

  const auto quoted = halvorsted::json::Parse(halvorsted::json::QuoteString(text));
  FUZZ_CHECK(quoted && quoted->text == text);
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::Json)
