// The state chunk reader on raw bytes: whatever it restores is sane and survives the writer.

#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "StateChunk.h"

#include <vector>

using namespace morvellan::state;

namespace {

SavedState ToSaved(const RestoredState& r)
{
  SavedState s;
  s.accent = r.accent;
  s.editorWidth = r.editorWidth;
  s.editorHeight = r.editorHeight;
  s.hasTarget = r.hasTarget;
  s.relative = r.relative;
  s.absolute = r.absolute;
  s.sourceName = r.sourceName;
  s.params = r.params;
  s.presetName = r.presetName;
  s.modified = r.modified;
  return s;
}

bool SameBands(const Bands& a, const Bands& b)
{
  for (int k = 0; k < kBandCount; ++k)
    if (!fuzz::SameBits(a[k], b[k]))
      return false;
  return true;
}

void CheckRestored(const RestoredState& r, std::size_t size)
{
  FUZZ_CHECK(r.headCount >= 0 && r.headCount <= kHeadParamCount);
  FUZZ_CHECK(r.tailCount >= 0 && r.tailCount <= kTailParamCount);
  FUZZ_CHECK(r.endPos >= -1 && r.endPos <= int(size));
  if (r.hasTarget)
  {
    FUZZ_CHECK(fuzz::AllFinite(r.relative));
    FUZZ_CHECK(fuzz::AllFinite(r.absolute));
  }
  else
  {
    FUZZ_CHECK(SameBands(r.relative, Bands{}) && SameBands(r.absolute, Bands{}));
    FUZZ_CHECK(r.sourceName.empty());
  }
  if (r.version < 2)
    FUZZ_CHECK(r.sourceName.empty());
}

// What the writer stored comes back whole: the newest layout, every value, the end of the chunk.
void CheckWrittenReadsBack(const SavedState& s)
{
  std::vector<std::uint8_t> bytes;
  WriteStateChunk(bytes, s);
  RestoredState r;
  FUZZ_CHECK(ReadStateChunk(bytes, 0, r) == ReadOutcome::kRestored);
  FUZZ_CHECK(r.version == kCurrentVersion);
  FUZZ_CHECK(r.endPos == int(bytes.size()));
  FUZZ_CHECK(r.headCount == kHeadParamCount && r.tailCount == kTailParamCount);
  FUZZ_CHECK(r.accent == s.accent && r.editorWidth == s.editorWidth && r.editorHeight == s.editorHeight);
  FUZZ_CHECK(r.hasTarget == s.hasTarget);
  FUZZ_CHECK(SameBands(r.relative, s.relative) && SameBands(r.absolute, s.absolute));
  FUZZ_CHECK(r.sourceName == s.sourceName);
  for (int i = 0; i < kNumParams; ++i)
    FUZZ_CHECK(fuzz::SameBits(r.params[i], s.params[i]));
  FUZZ_CHECK(r.presetName == s.presetName);
  FUZZ_CHECK(r.modified == s.modified);

  // Writing what was read gives the same bytes.
  std::vector<std::uint8_t> again;
  WriteStateChunk(again, ToSaved(r));
  FUZZ_CHECK(again == bytes);
}

} // namespace

namespace fuzz {

int StateChunk(const std::uint8_t* data, std::size_t size)
{
  const std::vector<std::uint8_t> bytes(data, data + size);
  RestoredState r;
  const ReadOutcome outcome = ReadStateChunk(bytes, 0, r);

  std::uint32_t magic = 0;
  if (size >= 4)
    std::memcpy(&magic, data, 4);
  FUZZ_CHECK((outcome == ReadOutcome::kPlain) == (size >= 4 && magic != kMagic));
  if (size < 4)
    FUZZ_CHECK(outcome == ReadOutcome::kRejected);

  // The same chunk behind other data reads the same from its own position.
  const int offset = int(size % 7) + 1;
  std::vector<std::uint8_t> behind(std::size_t(offset), 0xA5);
  behind.insert(behind.end(), bytes.begin(), bytes.end());
  RestoredState shifted;
  FUZZ_CHECK(ReadStateChunk(behind, offset, shifted) == outcome);
  // A start outside the bytes is refused, never read.
  RestoredState outside;
  FUZZ_CHECK(ReadStateChunk(bytes, int(size) + 1, outside) == ReadOutcome::kRejected);
  FUZZ_CHECK(ReadStateChunk(bytes, -1, outside) == ReadOutcome::kRejected);

  if (outcome != ReadOutcome::kRestored)
    return 0;

  CheckRestored(r, size);
  FUZZ_CHECK(shifted.endPos == (r.endPos < 0 ? -1 : r.endPos + offset));
  FUZZ_CHECK(shifted.presetName == r.presetName && shifted.headCount == r.headCount);

  CheckWrittenReadsBack(ToSaved(r));
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::StateChunk)
