// The preset file's Base64 on any bytes and any text.

#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "PresetFile.h"

#include <string>
#include <vector>

using morvellan::offline::Base64Decode;
using morvellan::offline::Base64Encode;

namespace {

bool IsAlphabet(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The encoder's text: four characters per three bytes, the alphabet, padding only at the end.
void CheckEncoded(const std::string& text, std::size_t byteCount)
{
  FUZZ_CHECK(text.size() == (byteCount + 2) / 3 * 4);
  const std::size_t padding = byteCount % 3 == 0 ? 0 : 3 - byteCount % 3;
  for (std::size_t i = 0; i < text.size(); ++i)
    FUZZ_CHECK(i >= text.size() - padding ? text[i] == '=' : IsAlphabet(text[i]));
}

} // namespace

namespace fuzz {

int Base64(const std::uint8_t* data, std::size_t size)
{
  // The input as bytes: encoding then decoding gives them back.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::string encoded = Base64Encode(bytes);
  CheckEncoded(encoded, bytes.size());
  std::vector<std::uint8_t> decoded{0x55};
  FUZZ_CHECK(Base64Decode(encoded, decoded));
  FUZZ_CHECK(decoded == bytes);

  // The input as text: an accepted text decodes to bytes whose encoding is accepted and
  // decodes to the same bytes; that encoding is the canonical form of the text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> fromText;
  if (!Base64Decode(text, fromText))
  {
    FUZZ_CHECK(!text.empty());
    return 0;
  }
  FUZZ_CHECK(text.size() % 4 == 0);
  FUZZ_CHECK(fromText.size() <= text.size() / 4 * 3 && fromText.size() + 2 >= text.size() / 4 * 3);
  const std::string canonical = Base64Encode(fromText);
  CheckEncoded(canonical, fromText.size());
  FUZZ_CHECK(canonical.size() == text.size());
  std::vector<std::uint8_t> again;
  FUZZ_CHECK(Base64Decode(canonical, again));
  FUZZ_CHECK(again == fromText);
  // The texts differ at most in the last data character of a padded group, whose spare bits
  // the decoder ignores.
  const std::size_t padding = fromText.size() % 3 == 0 ? 0 : 3 - fromText.size() % 3;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (padding == 0 || i != text.size() - 1 - padding)
      FUZZ_CHECK(text[i] == canonical[i]);
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::Base64)
