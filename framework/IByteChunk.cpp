#include "IByteChunk.h"

#include <limits>

namespace iplug
{

int IByteChunk::PutBytes(const void* data, int size)
{
  if (size < 0)
    return 0;
  const int64_t newSize = static_cast<int64_t>(mBytes.size()) + size;
  if (newSize > std::numeric_limits<int>::max())
    return 0;
  if (size > 0)
  {
    const auto* bytes = static_cast<const uint8_t*>(data);
    mBytes.insert(mBytes.end(), bytes, bytes + size);
  }
  return static_cast<int>(newSize);
}

int IByteChunk::GetBytes(void* data, int size, int startPos) const
{
  if (!Holds(startPos, size))
    return -1;
  if (size > 0)
    std::memcpy(data, mBytes.data() + startPos, static_cast<size_t>(size));
  return startPos + size;
}

int IByteChunk::PutStr(const char* str)
{
  return PutStr(std::string(str ? str : ""));
}

int IByteChunk::PutStr(const std::string& str)
{
  if (str.size() > static_cast<size_t>(std::numeric_limits<int>::max() - 4))
    return 0;
  const int32_t len = static_cast<int32_t>(str.size());
  // Check the room for both parts first so a failed put leaves no dangling count.
  if (static_cast<int64_t>(mBytes.size()) + 4 + len > std::numeric_limits<int>::max())
    return 0;
  Put(&len);
  return PutBytes(str.data(), len);
}

int IByteChunk::GetStr(std::string& str, int startPos) const
{
  str.clear();
  int32_t len = 0;
  const int pos = Get(&len, startPos);
  if (pos < 0)
    return -1;
  if (len <= 0)
    return pos;
  if (!Holds(pos, len))
    return -1;
  str.assign(reinterpret_cast<const char*>(mBytes.data() + pos), static_cast<size_t>(len));
  return pos + len;
}

int IByteChunk::GetStr(WDL_String& str, int startPos) const
{
  std::string s;
  const int pos = GetStr(s, startPos);
  str.Set(s);
  return pos;
}

int IByteChunk::Resize(int newSize)
{
  mBytes.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
  return Size();
}

} // namespace iplug
