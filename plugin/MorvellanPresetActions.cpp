#include "Morvellan.h"

#include <cmath>
#include <span>

#include "AccentColours.h"
#include "ActionMessages.h"
#include "EditorSizing.h"
#include "HostMessageText.h"
#include "Listing.h"
#include "PresetFile.h"
#include "StateChunk.h"
#include "StoredFiles.h"
#include "UiScale.h"

using morvellan::offline::kPresetFormat;
using morvellan::offline::PresetFile;

namespace {

constexpr const char* kLoadTitle = "Load preset";
constexpr const char* kLoadPrefix = "Could not load the preset: ";
constexpr const char* kSaveTitle = "Save preset";
constexpr const char* kSavePrefix = "Could not save the preset: ";
constexpr const char* kDeleteTitle = "Delete preset";
constexpr const char* kDeletePrefix = "Could not delete the preset: ";
constexpr float kScaleTolerance = 0.01f;

bool StartsWithStateMagic(const std::vector<uint8_t>& state)
{
  if (state.size() < 4)
    return false;
  const uint32_t magic = uint32_t{state[0]} | uint32_t{state[1]} << 8 | uint32_t{state[2]} << 16 |
                         uint32_t{state[3]} << 24;
  return magic == morvellan::state::kMagic;
}

// A preset is applied only when every field of its chunk is there.
bool StateIsWhole(const std::vector<uint8_t>& state)
{
  morvellan::state::RestoredState restored;
  const auto outcome = morvellan::state::ReadStateChunk(std::span<const uint8_t>(state), 0, restored);
  return outcome == morvellan::state::ReadOutcome::kRestored && restored.endPos >= 0;
}

} // namespace

std::filesystem::path Morvellan::PresetFolder()
{
  return morvellan::offline::PresetFolderUnder(morvellan::offline::UserDataFolder());
}

std::vector<PresetFile> Morvellan::UserPresets()
{
  try
  {
    return morvellan::offline::ListPresetFiles(kPresetFormat, PresetFolder());
  }
  catch (const std::exception&)
  {
    return {};
  }
}

std::string Morvellan::GetPresetNameLocked()
{
  std::lock_guard<std::mutex> lock(mMutex);
  return mPresetName;
}

void Morvellan::ResetPresetMark(bool restoredModified)
{
  mRestoredModified = restoredModified;
  mPresetBaseline.clear();
  mPresetModified = false;
  mTakeBaseline.store(true);
}

void Morvellan::LoadPreset(const PresetFile& preset)
{
  morvellan::actions::Guarded(*this, kLoadTitle, kLoadPrefix, [&] { LoadPresetImpl(preset); });
}

void Morvellan::SavePreset(const std::string& name, bool confirm)
{
  morvellan::actions::Guarded(*this, kSaveTitle, kSavePrefix, [&] { SavePresetImpl(name, confirm); });
}

void Morvellan::DeletePreset(const PresetFile& preset)
{
  morvellan::actions::Guarded(*this, kDeleteTitle, kDeletePrefix, [&] { DeletePresetImpl(preset); });
}

void Morvellan::LoadPresetImpl(const PresetFile& listed)
{
  using namespace morvellan;

  // The file as it is now, not as it was listed.
  PresetFile preset;
  std::string error;
  if (!offline::ReadPresetFile(kPresetFormat, listed.path, preset, error))
  {
    actions::Tell(*this, kLoadTitle, kLoadPrefix + error);
    return;
  }
  if (!StartsWithStateMagic(preset.state))
  {
    actions::Tell(*this, kLoadTitle, std::string(kLoadPrefix) + "it does not hold an Morvellan state.");
    return;
  }
  // Checked whole before anything is applied, so a damaged preset changes nothing.
  iplug::IByteChunk chunk;
  chunk.PutBytes(preset.state.data(), static_cast<int>(preset.state.size()));
  if (!StateIsWhole(preset.state) || UnserializeState(chunk, 0) < 0)
  {
    actions::Tell(*this, kLoadTitle, std::string(kLoadPrefix) + "its state is damaged.");
    return;
  }

  for (int i = 0; i < NParams(); ++i)
    BeginInformHostOfParamChange(i);
  for (int i = 0; i < NParams(); ++i)
    SendParameterValueFromUI(i, GetParam(i)->GetNormalized());
  for (int i = 0; i < NParams(); ++i)
    EndInformHostOfParamChange(i);
  SendCurrentParamValuesFromDelegate();

  if (mRestoredEditorWidth > 0)
  {
    const float wanted = static_cast<float>(mRestoredEditorWidth) / float(morvellan::sizing::kCanvasWidth);
    if (std::fabs(wanted - GetUiScale(*this)) > kScaleTolerance)
      SetUiScale(*this, wanted);
  }

  {
    std::lock_guard<std::mutex> lock(mMutex);
    // Exactly as the listing shows it, so the loaded preset is found in the list.
    mPresetName = preset.name;
  }
  ResetPresetMark(false);
}

void Morvellan::SavePresetImpl(const std::string& name, bool confirm)
{
  using namespace morvellan;

  const offline::NameToSave names = offline::MakeNameToSave(name);
  if (names.Blank())
    return;
  const std::filesystem::path folder = PresetFolder();

  if (confirm && offline::PathExists(offline::PresetFilePath(kPresetFormat, folder, names.trimmed)))
  {
    // The state as it is when the answer comes, saved without asking again.
    actions::AskThen(*this, kSaveTitle,
                     "A preset named " + actions::Quoted(names.stored) + " already exists. Replace it?",
                     [this, name] { SavePreset(name, false); });
    return;
  }

  std::string oldName;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    oldName = mPresetName;
    // The name the file stores, so the saved preset is found in the list.
    mPresetName = names.stored;
  }
  const bool oldModified = mPresetModified || mRestoredModified;
  // Before serialising, so the stored chunk carries the new name and a clear mark.
  ResetPresetMark(false);

  iplug::IByteChunk chunk;
  std::string error;
  bool ok = SerializeState(chunk) && chunk.Size() > 0;
  if (ok)
  {
    const std::vector<uint8_t> bytes(chunk.GetData(), chunk.GetData() + chunk.Size());
    ok = offline::WritePresetFile(kPresetFormat, folder, names.trimmed, bytes, error);
  }
  if (!ok)
  {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mPresetName = oldName;
    }
    ResetPresetMark(oldModified);
    actions::Tell(*this, kSaveTitle, kSavePrefix + (error.empty() ? std::string("the state could not be taken") : error));
  }
}

void Morvellan::DeletePresetImpl(const PresetFile& preset)
{
  std::string error;
  if (!morvellan::offline::DeleteStoredFile(preset.path, error))
    morvellan::actions::Tell(*this, kDeleteTitle, kDeletePrefix + error);
}

void Morvellan::QueuePresetSave(const std::string& name)
{
  morvellan::actions::Guarded(*this, kSaveTitle, kSavePrefix, [&] {
    const morvellan::offline::NameToSave names = morvellan::offline::MakeNameToSave(name);
    if (names.Blank())
      return;
    // The current preset is overwritten without a question.
    if (names.stored == GetPresetNameLocked())
    {
      SavePreset(name, false);
      return;
    }
    const std::filesystem::path path =
        morvellan::offline::PresetFilePath(kPresetFormat, PresetFolder(), names.trimmed);
    if (morvellan::offline::PathExists(path))
      mPendingPresetSave = name; // asked about from the idle callback, outside the control's callback
    else
      SavePreset(name, false);
  });
}

bool Morvellan::HandlePresetMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes)
{
  const std::string id = messageId ? messageId : "";
  if (id != kLoadPresetMessage && id != kSavePresetMessage)
    return false;

  std::string argument;
  std::string error;
  const char* key = id == kLoadPresetMessage ? "path" : "name";
  if (!morvellan::ReadMessageText(attributes, key, argument))
  {
    morvellan::WriteMessageText(attributes, "error", std::string("the message has no ") + key);
    return true;
  }

  morvellan::actions::ReportMessagesTo report(error);
  if (id == kLoadPresetMessage)
  {
    PresetFile listed;
    listed.path = std::filesystem::path(argument);
    LoadPreset(listed);
  }
  else
  {
    SavePreset(argument, false);
    if (error.empty())
    {
      // Where the preset of that name now lives, for the host to report.
      const morvellan::offline::NameToSave names = morvellan::offline::MakeNameToSave(argument);
      if (!names.Blank())
        morvellan::WriteMessageText(attributes, "path",
                      morvellan::offline::PresetFilePath(kPresetFormat, PresetFolder(), names.trimmed).string());
    }
  }
  if (!error.empty())
    morvellan::WriteMessageText(attributes, "error", error);
  return true;
}
