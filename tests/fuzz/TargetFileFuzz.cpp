// Any bytes as a target text: an accepted target holds twelve finite values, and written
// again it reads back as the same record, its values rounded to the writer's three decimals.

#include "FuzzCheck.h"
#include "FuzzTargets.h"
#include "ScratchFolder.h"

#include "StoredFiles.h"
#include "TargetFile.h"

#include <sstream>

using namespace morvellan::offline;

namespace {

const std::string kLabel = "Input";

bool SameRecord(const SavedTarget& a, const SavedTarget& b)
{
  if (a.name != b.name || a.source != b.source || a.factory != b.factory)
    return false;
  for (int k = 0; k < kStoredBandCount; ++k)
    if (!fuzz::SameBits(a.balance[std::size_t(k)], b.balance[std::size_t(k)]))
      return false;
  return true;
}

SavedTarget Parse(const std::string& text, bool expectAccepted)
{
  std::istringstream in(text);
  SavedTarget target;
  std::string error;
  FUZZ_CHECK(ParseTarget(in, target, error, kLabel) == expectAccepted);
  return target;
}

} // namespace

namespace fuzz {

int TargetFile(const std::uint8_t* data, std::size_t size)
{
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::istringstream in(input);
  SavedTarget target;
  target.name = "untouched";
  std::string error;
  if (!ParseTarget(in, target, error, kLabel))
  {
    FUZZ_CHECK(!error.empty());
    // Without the header nothing of the record is touched.
    if (error.rfind("not an ", 0) == 0)
      FUZZ_CHECK(target.name == "untouched");
    return 0;
  }
  FUZZ_CHECK(AllFinite(target.balance));
  FUZZ_CHECK(!target.name.empty());
  FUZZ_CHECK(target.path.empty() && !target.factory);

  const std::string text = FormatTargetText(target.name, target.source, target.balance);
  const SavedTarget once = Parse(text, true);
  FUZZ_CHECK(once.name == SingleLine(target.name));
  FUZZ_CHECK(once.source == SingleLine(target.source));
  for (int k = 0; k < kStoredBandCount; ++k)
  {
    const double v = target.balance[std::size_t(k)];
    const double written = once.balance[std::size_t(k)];
    FUZZ_CHECK(std::fabs(written - v) <= 0.0005 + std::fabs(v) * 1e-15);
  }

  // After one round the text is settled: it reads and writes as itself.
  FUZZ_CHECK(FormatTargetText(once.name, once.source, once.balance) == text);
  FUZZ_CHECK(SameRecord(Parse(text, true), once));

  // The same through a file in the targets folder.
  const std::filesystem::path folder = FreshFolder("targets");
  FUZZ_CHECK(WriteTargetFile(folder, target.name, target.source, target.balance, error));
  SavedTarget fromFile;
  const std::filesystem::path path = TargetFilePath(folder, target.name);
  FUZZ_CHECK(ReadTargetFile(path, fromFile, error));
  FUZZ_CHECK(fromFile.path == path);
  FUZZ_CHECK(SameRecord(fromFile, once));
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::TargetFile)
