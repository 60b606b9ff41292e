// What the saved state holds beyond the parameters changes without the host seeing it: a target
// learned or applied, a preset loaded or saved, an accent chosen. The host is told so that it
// saves the session (and asks before quitting); a restore of its own is nothing to tell.

#include "Morvellan.h"

namespace {

// A name is set at once, its target with the next audio block: both are one change when the
// block comes soon. Without audio the name goes on alone after this long.
constexpr auto kTargetSettleTime = std::chrono::milliseconds(100);

} // namespace

Morvellan::StateSignature Morvellan::TakeStateSignature()
{
  StateSignature s;
  s.targetEdits = mTargetEdits.load(std::memory_order_acquire);
  s.restores = mStateRestores;
  s.accent = mAccentIndex.load();
  s.modified = mPresetModified || mRestoredModified;
  std::lock_guard<std::mutex> lock(mMutex);
  s.sourceName = mTargetSourceName;
  s.presetName = mPresetName;
  return s;
}

// Compared in place: this runs with every idle step and every host call that may report.
bool Morvellan::StateMatches(const StateSignature& known)
{
  if (mTargetEdits.load(std::memory_order_acquire) != known.targetEdits || mStateRestores != known.restores ||
      mAccentIndex.load() != known.accent || (mPresetModified || mRestoredModified) != known.modified)
    return false;
  std::lock_guard<std::mutex> lock(mMutex);
  return mTargetSourceName == known.sourceName && mPresetName == known.presetName;
}

bool Morvellan::StateChangeInFlight() const
{
  return mLoadedTargetPending.load(std::memory_order_acquire) != 0 ||
         mReferenceTargetPending.load(std::memory_order_acquire) != 0 ||
         mClearTargetRequest.load(std::memory_order_acquire) != 0 || mLearnFinished.load(std::memory_order_acquire);
}

void Morvellan::CheckForStateChanges()
{
  if (StateMatches(mKnownState))
  {
    mStateChangeHeldSince.reset();
    return;
  }
  if (StateChangeInFlight())
  {
    const auto now = std::chrono::steady_clock::now();
    if (!mStateChangeHeldSince)
      mStateChangeHeldSince = now;
    if (now - *mStateChangeHeldSince < kTargetSettleTime)
      return;
  }
  mStateChangeHeldSince.reset();
  mKnownState = TakeStateSignature();
  MarkStateChanged();
}

void Morvellan::OnStateRestoredByHost()
{
  mStateChangeHeldSince.reset();
  mKnownState = TakeStateSignature();
}
