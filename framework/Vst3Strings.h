#pragma once

#include <cstddef>
#include <string>

#include "pluginterfaces/base/ftypes.h"

namespace iplug
{

// Decodes one UTF-8 character at s, with n >= 1 bytes left: returns its length (at least 1).
// A malformed or overlong sequence, a surrogate or a value past U+10FFFF reads as U+FFFD.
size_t DecodeUtf8(const unsigned char* s, size_t n, char32_t& cp);
// UTF-8 -> UTF-16 into a fixed buffer of maxChars units, always terminated; a
// character that does not fit whole is dropped. Invalid bytes become U+FFFD.
void Utf8ToUtf16(const char* src, Steinberg::char16* dst, size_t maxChars);
// UTF-16 (terminated, at most maxChars units read) -> UTF-8; lone surrogates become U+FFFD.
std::string Utf16ToUtf8(const Steinberg::char16* src, size_t maxChars);
// Copies at most size - 1 bytes and terminates; never cuts a UTF-8 character in two.
void CopyUtf8(char* dst, const char* src, size_t size);
// The last character boundary at or before pos: a cut there leaves whole UTF-8 characters.
// text[pos] must be readable.
size_t Utf8BoundaryAtOrBefore(const char* text, size_t pos);

} // namespace iplug
