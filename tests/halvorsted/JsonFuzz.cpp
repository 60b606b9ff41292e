#include "halvorsted/json/Json.h"

#include <cstddef>
#include <cstdint>
#include <string>

using halvorsted::json::JsonValue;

namespace {

void Check(bool condition)
{
  if (!condition)
    __builtin_trap();
}

// Whatever the reader accepted must respect its own limits and survive the writer.
void CheckTree(const JsonValue& value, int depth)
{
  Check(depth <= 8);
  switch (value.kind)
  {
    case JsonValue::Kind::String:
    {
      const auto again = halvorsted::json::Parse(halvorsted::json::QuoteString(value.text));
      Check(again && again->kind == JsonValue::Kind::String && again->text == value.text);
      break;
    }
    case JsonValue::Kind::Array:
      Check(value.members.empty());
      for (const auto& item : value.items)
        CheckTree(item, depth + 1);
      break;
    case JsonValue::Kind::Object:
      Check(value.items.empty());
      for (const auto& [key, member] : value.members)
      {
        const JsonValue* found = value.Find(key);
        Check(found != nullptr);
        CheckTree(member, depth + 1);
      }
      break;
    default:
      Check(value.items.empty() && value.members.empty());
      break;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const auto value = halvorsted::json::Parse(text))
    CheckTree(*value, 0);

  const auto quoted = halvorsted::json::Parse(halvorsted::json::QuoteString(text));
  Check(quoted && quoted->text == text);
  return 0;
}
