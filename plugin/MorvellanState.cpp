#include "Morvellan.h"

#include <span>

#include "AccentColours.h"
#include "EditorSizing.h"
#include "IGraphics.h"

namespace {

constexpr int kSaveReadAttempts = 100;
constexpr int kAccentCount = int(morvellan::AccentColourTable.size());

} // namespace

morvellan::BalanceCopy Morvellan::ReadLearnedTargetForSave()
{
  morvellan::BalanceCopy copy;
  for (int attempt = 0; attempt < kSaveReadAttempts; ++attempt)
  {
    if (mLearnedTarget.TryRead(copy))
    {
      mLastSavedTarget = copy;
      return copy;
    }
  }
  // Never a torn copy: the last consistent one stands in.
  return mLastSavedTarget;
}

bool Morvellan::SerializeState(iplug::IByteChunk& chunk)
{
  using namespace morvellan;

  state::SavedState s;
  s.accent = mAccentIndex.load();
  const sizing::EditorSize size = SavedEditorSize();
  s.editorWidth = size.width;
  s.editorHeight = size.height;

  const BalanceCopy target = ReadLearnedTargetForSave();
  s.hasTarget = target.valid;
  s.relative = target.relative;
  s.absolute = target.absolute;

  {
    std::lock_guard<std::mutex> lock(mMutex);
    s.sourceName = mTargetSourceName;
    s.presetName = mPresetName;
  }
  for (int i = 0; i < kNumParams; ++i)
    s.params[i] = GetParam(i)->Value();
  s.hostBypass = GetBypassed();
  s.modified = mPresetModified || mRestoredModified;

  std::vector<std::uint8_t> bytes;
  state::WriteStateChunk(bytes, s);
  return chunk.PutBytes(bytes.data(), int(bytes.size())) > 0;
}

int Morvellan::UnserializeState(const iplug::IByteChunk& chunk, int startPos)
{
  using namespace morvellan;

  const std::span<const std::uint8_t> bytes(chunk.GetData(), std::size_t(chunk.Size()));
  state::RestoredState restored;
  switch (state::ReadStateChunk(bytes, startPos, restored))
  {
  case state::ReadOutcome::kRejected:
    return -1;
  case state::ReadOutcome::kPlain:
    // The framework's reader tells the plug-in and the editor about every value itself.
    return UnserializeParams(chunk, startPos);
  case state::ReadOutcome::kRestored:
    break;
  }

  ApplyRestoredState(restored);
  return restored.endPos;
}

void Morvellan::ApplyRestoredState(const morvellan::state::RestoredState& r)
{
  using namespace morvellan;

  ++mStateRestores;
  SetTargetSource(r.sourceName);

  const int accent = r.accent >= 0 && r.accent < kAccentCount ? r.accent : 0;
  if (mAccentIndex.exchange(accent) != accent)
    mAccentDirty.store(true);

  const sizing::EditorSize size = sizing::SanitizeRestoredSize(r.editorWidth, r.editorHeight);
  mRestoredEditorWidth = size.width;
  mRestoredEditorHeight = size.height;
  // An open editor keeps its size.
  if (!GetUI() && size.width >= 1 && size.height >= 1)
  {
    const sizing::EditorSize window = sizing::WindowSizeForRestored(size, mScreenScale);
    mEditorWidth = window.width;
    mEditorHeight = window.height;
    mKeptEditorSize = {size, window, mScreenScale};
  }

  // Head values that are missing keep their values; tail values that are missing take defaults.
  // Set() constrains, and a value that is not finite becomes the default.
  for (int i = 0; i < r.headCount; ++i)
    GetParam(i)->Set(r.params[i]);
  for (int i = state::kHeadParamCount; i < kNumParams; ++i)
    GetParam(i)->SetToDefault();
  for (int i = 0; i < r.tailCount; ++i)
    GetParam(state::kHeadParamCount + i)->Set(r.params[state::kHeadParamCount + i]);

  {
    std::lock_guard<std::mutex> lock(mMutex);
    mPresetName = r.presetName;
  }
  ResetPresetMark(r.modified);

  InformParamsRecalled();

  // The record first, then the flags the audio thread reads once it takes the pending byte.
  mRestoredLegacy.store(r.version < 2, std::memory_order_release);
  mRestoredTarget.Write(r.relative, r.absolute, r.hasTarget);
  mRestoredTargetPending.store(1, std::memory_order_release);

  // Seen at once by the editor, the idle callback and a following save. Write claims the record,
  // so it never overlaps the audio thread's publishing, which skips a block instead of waiting.
  mLearnedTarget.Write(r.relative, r.absolute, r.hasTarget);
  mLastSavedTarget = {r.relative, r.absolute, r.hasTarget};
}
