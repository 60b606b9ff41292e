#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "WDL_String.h"

namespace iplug
{

// A growable byte buffer for state. Values are stored in the machine's byte order
// (little-endian here); a string is an int32 byte count followed by the bytes, no
// terminator. Every read checks its bytes lie inside the buffer, with positions
// and lengths added in 64 bits, and answers -1 instead of reading past the end.
class IByteChunk
{
public:
  IByteChunk() = default;

  // Appends size bytes; returns the new size, or 0 when size is negative or the
  // buffer would outgrow an int.
  int PutBytes(const void* data, int size);

  // Copies size bytes from startPos; returns the position after them, or -1.
  int GetBytes(void* data, int size, int startPos) const;

  template <class T>
  int Put(const T* value)
  {
    static_assert(std::is_trivially_copyable_v<T>);
    return PutBytes(value, static_cast<int>(sizeof(T)));
  }

  template <class T>
  int Get(T* value, int startPos) const
  {
    static_assert(std::is_trivially_copyable_v<T>);
    return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
  }

  int PutStr(const char* str);
  int PutStr(const std::string& str);

  // Reads a string at startPos. A count of 0 or less gives an empty string and the
  // position after the count; a count that runs past the end gives an empty string
  // and -1. Bytes are taken as they are (no terminator is needed or expected).
  int GetStr(std::string& str, int startPos) const;
  int GetStr(WDL_String& str, int startPos) const;

  int PutChunk(const IByteChunk* other) { return PutBytes(other->GetData(), other->Size()); }

  void Clear() { mBytes.clear(); }
  int Size() const { return static_cast<int>(mBytes.size()); }
  // Resizes to newSize bytes (new bytes are 0); a negative size empties the chunk.
  int Resize(int newSize);
  uint8_t* GetData() { return mBytes.data(); }
  const uint8_t* GetData() const { return mBytes.data(); }

  bool IsEqual(const IByteChunk& other) const { return mBytes == other.mBytes; }

  // True when [pos, pos + size) lies inside the buffer; arithmetic in 64 bits.
  bool Holds(int64_t pos, int64_t size) const
  {
    return pos >= 0 && size >= 0 && pos <= static_cast<int64_t>(mBytes.size()) &&
           size <= static_cast<int64_t>(mBytes.size()) - pos;
  }

private:
  std::vector<uint8_t> mBytes;
};

} // namespace iplug
