// Any bytes as the content of a preset file: an accepted file holds a state, and written
// again under the name it read, it reads back as the same record.

#include "FuzzCheck.h"
#include "FuzzTargets.h"
#include "ScratchFolder.h"

#include "PresetFile.h"
#include "StoredFiles.h"

#include <fstream>
#include <iterator>

using namespace morvellan::offline;

namespace {

void WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  FUZZ_CHECK(out.good());
}

std::string ReadFile(const std::filesystem::path& path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the record into an empty folder and reads the one file that was written.
PresetFile Rewrite(const PresetFile& preset, std::string& text)
{
  const std::filesystem::path folder = fuzz::FreshFolder("out");
  std::string error;
  FUZZ_CHECK(WritePresetFile(kPresetFormat, folder, preset.name, preset.state, error));
  std::filesystem::path path;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
  {
    path = entry.path();
    ++files;
  }
  FUZZ_CHECK(files == 1 && path.extension() == kPresetFormat.extension);
  text = ReadFile(path);
  FUZZ_CHECK(text == FormatPresetText(kPresetFormat, preset.name, preset.state));

  PresetFile again;
  FUZZ_CHECK(ReadPresetFile(kPresetFormat, path, again, error));
  FUZZ_CHECK(again.path == path);
  return again;
}

} // namespace

namespace fuzz {

int PresetFile(const std::uint8_t* data, std::size_t size)
{
  const std::filesystem::path folder = FreshFolder("in");
  const std::filesystem::path path = folder / "Input.mvpreset";
  WriteFile(path, data, size);

  morvellan::offline::PresetFile preset;
  preset.name = "untouched";
  std::string error;
  if (!ReadPresetFile(kPresetFormat, path, preset, error))
  {
    FUZZ_CHECK(!error.empty());
    // A file that is not a preset leaves the record as it was.
    if (error.rfind("not an ", 0) == 0)
      FUZZ_CHECK(preset.name == "untouched");
    return 0;
  }
  FUZZ_CHECK(!preset.state.empty());
  FUZZ_CHECK(!preset.name.empty());
  FUZZ_CHECK(preset.path == path);

  // The writer stores the name on one line; that is the record that reads back, and the
  // text it writes for that record is the text already written.
  std::string text;
  const morvellan::offline::PresetFile once = Rewrite(preset, text);
  FUZZ_CHECK(once.name == SingleLine(preset.name));
  FUZZ_CHECK(once.state == preset.state);
  FUZZ_CHECK(FormatPresetText(kPresetFormat, once.name, once.state) == text);
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::PresetFile)
