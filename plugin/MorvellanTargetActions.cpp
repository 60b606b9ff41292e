#include "Morvellan.h"

#include "ActionMessages.h"
#include "Listing.h"
#include "StoredFiles.h"
#include "TargetFile.h"

using morvellan::offline::SavedTarget;

namespace {

constexpr const char* kLoadTitle = "Load target";
constexpr const char* kLoadPrefix = "Could not load the target: ";
constexpr const char* kSaveTitle = "Save target";
constexpr const char* kSavePrefix = "Could not save the target: ";
constexpr const char* kDeleteTitle = "Delete target";
constexpr const char* kDeletePrefix = "Could not delete the target: ";
constexpr int kReadAttempts = 100;

} // namespace

std::filesystem::path Morvellan::TargetFolder()
{
  return morvellan::offline::TargetFolderUnder(morvellan::offline::UserDataFolder());
}

std::vector<SavedTarget> Morvellan::UserTargets()
{
  try
  {
    return morvellan::offline::ListTargetFiles(TargetFolder());
  }
  catch (const std::exception&)
  {
    return {};
  }
}

void Morvellan::LoadTarget(const SavedTarget& target)
{
  morvellan::actions::Guarded(*this, kLoadTitle, kLoadPrefix, [&] { LoadTargetImpl(target); });
}

void Morvellan::SaveTarget(const std::string& name)
{
  morvellan::actions::Guarded(*this, kSaveTitle, kSavePrefix, [&] { SaveTargetImpl(name); });
}

void Morvellan::DeleteTarget(const SavedTarget& target)
{
  morvellan::actions::Guarded(*this, kDeleteTitle, kDeletePrefix, [&] { DeleteTargetImpl(target); });
}

void Morvellan::LoadTargetImpl(const SavedTarget& listed)
{
  SavedTarget target = listed;
  if (!target.factory)
  {
    // The values on disk now, in case the file changed since the menu was built.
    std::string error;
    if (!morvellan::offline::ReadTargetFile(listed.path, target, error))
    {
      morvellan::actions::Tell(*this, kLoadTitle, kLoadPrefix + error);
      return;
    }
  }

  SetTargetSource(morvellan::offline::SingleLine(target.name));

  mLoadedTarget.Write(target.balance, target.balance, true);
  mLoadedTargetPending.store(1, std::memory_order_release);
}

void Morvellan::SaveTargetImpl(const std::string& name)
{
  using namespace morvellan;

  const offline::NameToSave names = offline::MakeNameToSave(name);
  if (names.Blank())
    return;

  BalanceCopy copy;
  bool read = false;
  for (int attempt = 0; attempt < kReadAttempts && !read; ++attempt)
    read = mLearnedTarget.TryRead(copy);
  if (!read || !copy.valid)
  {
    actions::Tell(*this, kSaveTitle,
                  "There is no learned target to save. Learn one from the input or a reference file first.");
    return;
  }

  if (offline::PathExists(offline::TargetFilePath(TargetFolder(), names.trimmed)))
  {
    // The values in force now, written once the answer is Yes.
    actions::AskThen(*this, kSaveTitle,
                     "A target named " + actions::Quoted(names.stored) + " already exists. Replace it?",
                     [this, trimmed = names.trimmed, values = copy.absolute] {
                       actions::Guarded(*this, kSaveTitle, kSavePrefix, [&] { WriteTargetInForce(trimmed, values); });
                     });
    return;
  }
  WriteTargetInForce(names.trimmed, copy.absolute);
}

void Morvellan::WriteTargetInForce(const std::string& trimmedName, const morvellan::BandBalance& values)
{
  std::string source;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    source = mTargetSourceName;
  }
  if (source.empty())
    source = "input";

  std::string error;
  if (!morvellan::offline::WriteTargetFile(TargetFolder(), trimmedName, source, values, error))
    morvellan::actions::Tell(*this, kSaveTitle, kSavePrefix + error);
}

void Morvellan::DeleteTargetImpl(const SavedTarget& target)
{
  morvellan::actions::AskThen(
      *this, kDeleteTitle, "Delete the target " + morvellan::actions::Quoted(target.name) + "? This cannot be undone.",
      [this, path = target.path] {
        morvellan::actions::Guarded(*this, kDeleteTitle, kDeletePrefix, [&] {
          std::string error;
          if (!morvellan::offline::DeleteStoredFile(path, error))
            morvellan::actions::Tell(*this, kDeleteTitle, kDeletePrefix + error);
        });
      });
}
