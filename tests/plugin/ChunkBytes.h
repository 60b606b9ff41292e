#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Builds chunks byte by byte, independently of the writer under test.
struct Bytes
{
  std::vector<std::uint8_t> b;

  Bytes& Magic()
  {
    for (char c : std::string("1SVM"))
      b.push_back(std::uint8_t(c));
    return *this;
  }
  Bytes& I32(std::int32_t v)
  {
    const auto u = std::uint32_t(v);
    for (int i = 0; i < 4; ++i)
      b.push_back(std::uint8_t(u >> (8 * i)));
    return *this;
  }
  Bytes& F64(double v)
  {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
      b.push_back(std::uint8_t(u >> (8 * i)));
    return *this;
  }
  Bytes& F64s(int n, double first, double stepBy = 1.0)
  {
    for (int i = 0; i < n; ++i)
      F64(first + stepBy * i);
    return *this;
  }
  Bytes& Str(const std::string& s)
  {
    I32(std::int32_t(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  // Header up to and including the relative run: version, accent 3, 720 x 532, target flag.
  Bytes& Header(int version, int hasTarget = 1)
  {
    return Magic().I32(version).I32(3).I32(720).I32(532).I32(hasTarget).F64s(12, -6.0);
  }
};
