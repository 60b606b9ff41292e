#include "StateChunk.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

namespace morvellan::state {
namespace {

static_assert(std::endian::native == std::endian::little, "the chunk layout assumes a little-endian machine");

class Writer
{
public:
  explicit Writer(std::vector<std::uint8_t>& out) : mOut(out) {}

  void Int(std::int32_t v) { Raw(&v, sizeof v); }
  void UInt(std::uint32_t v) { Raw(&v, sizeof v); }
  void Double(double v) { Raw(&v, sizeof v); }
  void Doubles(const double* v, int n)
  {
    for (int i = 0; i < n; ++i)
      Double(v[i]);
  }
  void String(const std::string& s)
  {
    const std::size_t n = s.size() > std::size_t(INT32_MAX) ? std::size_t(INT32_MAX) : s.size();
    Int(std::int32_t(n));
    Raw(s.data(), n);
  }

private:
  void Raw(const void* p, std::size_t n)
  {
    const auto* b = static_cast<const std::uint8_t*>(p);
    mOut.insert(mOut.end(), b, b + n);
  }

  std::vector<std::uint8_t>& mOut;
};

// Bounds-checked cursor; the first failed read leaves it failed (position -1).
class Reader
{
public:
  Reader(std::span<const std::uint8_t> bytes, std::int64_t pos) : mBytes(bytes), mPos(pos)
  {
    if (pos < 0 || pos > std::int64_t(bytes.size()))
      mPos = -1;
  }

  bool Ok() const { return mPos >= 0; }
  int Pos() const { return mPos < 0 ? -1 : int(mPos); }
  void Fail() { mPos = -1; }

  bool Int(std::int32_t& v) { return Raw(&v, sizeof v); }
  bool UInt(std::uint32_t& v) { return Raw(&v, sizeof v); }
  bool Double(double& v) { return Raw(&v, sizeof v); }

  bool Skip(std::int64_t n)
  {
    if (!Has(n))
      return Failed();
    mPos += n;
    return true;
  }

  // A negative length is damage, not an empty string.
  bool String(std::string& s)
  {
    std::int32_t n = 0;
    if (!Int(n))
      return false;
    if (n < 0 || !Has(n))
      return Failed();
    s.assign(reinterpret_cast<const char*>(mBytes.data() + mPos), std::size_t(n));
    mPos += n;
    return true;
  }

  // Reads up to n doubles into out; returns how many were read before running out.
  int Doubles(double* out, int n)
  {
    for (int i = 0; i < n; ++i)
      if (!Double(out[i]))
        return i;
    return n;
  }

private:
  bool Has(std::int64_t n) const { return mPos >= 0 && n >= 0 && n <= std::int64_t(mBytes.size()) - mPos; }
  bool Failed()
  {
    mPos = -1;
    return false;
  }
  bool Raw(void* dst, std::size_t n)
  {
    if (!Has(std::int64_t(n)))
      return Failed();
    std::memcpy(dst, mBytes.data() + mPos, n);
    mPos += std::int64_t(n);
    return true;
  }

  std::span<const std::uint8_t> mBytes;
  std::int64_t mPos;
};

bool AllFinite(const Bands& b)
{
  for (double v : b)
    if (!std::isfinite(v))
      return false;
  return true;
}

} // namespace

void WriteStateChunk(std::vector<std::uint8_t>& out, const SavedState& s)
{
  Writer w(out);
  w.UInt(kMagic);
  w.Int(kCurrentVersion);
  w.Int(s.accent);
  w.Int(s.editorWidth);
  w.Int(s.editorHeight);
  w.Int(s.hasTarget ? 1 : 0);
  w.Doubles(s.relative.data(), kBandCount);
  w.String(s.sourceName);
  w.Doubles(s.params.data(), kHeadParamCount);
  w.Doubles(s.absolute.data(), kBandCount);
  w.Int(s.hostBypass ? 1 : 0);
  w.Int(kTailParamCount);
  w.Doubles(s.params.data() + kHeadParamCount, kTailParamCount);
  w.Int(s.hostBypass ? 1 : 0);
  w.String(s.presetName);
  w.Int(s.modified ? 1 : 0);
}

ReadOutcome ReadStateChunk(std::span<const std::uint8_t> bytes, int startPos, RestoredState& out)
{
  out = RestoredState{};
  Reader r(bytes, startPos);

  std::uint32_t magic = 0;
  if (!r.UInt(magic))
    return ReadOutcome::kRejected;
  if (magic != kMagic)
    return ReadOutcome::kPlain;

  // Header. Our magic with a header cut short is a damaged chunk, not a plain one.
  std::int32_t version = 0, accent = 0, width = 0, height = 0, hasTarget = 0;
  Bands relative{};
  r.Int(version);
  r.Int(accent);
  r.Int(width);
  r.Int(height);
  r.Int(hasTarget);
  r.Doubles(relative.data(), kBandCount);
  std::string sourceName;
  if (version >= 2)
    r.String(sourceName);
  if (!r.Ok())
    return ReadOutcome::kRejected;

  out.version = version;
  out.accent = accent;
  out.editorWidth = width;
  out.editorHeight = height;
  out.relative = relative;
  out.absolute = relative;
  bool targetOk = AllFinite(relative);

  out.headCount = r.Doubles(out.params.data(), kHeadParamCount);

  if (version >= 3 && r.Ok())
  {
    Bands absolute{};
    if (r.Doubles(absolute.data(), kBandCount) == kBandCount)
    {
      out.absolute = absolute;
      targetOk = targetOk && AllFinite(absolute);
    }
  }

  if (version >= 4 && r.Ok())
  {
    std::int32_t count = 0;
    r.Skip(4);
    // A count of zero or less stores no values; the fields after it still follow.
    if (r.Int(count) && count > 0)
    {
      const int wanted = count < kTailParamCount ? count : kTailParamCount;
      out.tailCount = r.Doubles(out.params.data() + kHeadParamCount, wanted);
      // Values of parameters this build does not have: skipped in one bounded step.
      if (r.Ok())
        r.Skip((std::int64_t(count) - wanted) * 8);
    }
  }

  if (version >= 5 && r.Ok())
  {
    std::string presetName;
    std::int32_t modified = 0;
    if (r.Skip(4) && r.String(presetName) && r.Int(modified))
    {
      out.presetName = std::move(presetName);
      out.modified = modified != 0;
    }
  }

  // A target that holds anything but finite numbers is not restored.
  out.hasTarget = hasTarget != 0 && targetOk;
  if (out.hasTarget)
    out.sourceName = std::move(sourceName);
  else
    out.relative = out.absolute = Bands{};
  if (version < 2)
    out.sourceName.clear();

  out.endPos = r.Pos();
  return ReadOutcome::kRestored;
}

} // namespace morvellan::state
