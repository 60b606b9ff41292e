#include "PresetFile.h"

#include "StoredFiles.h"

#include <sstream>

namespace morvellan::offline {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kNumberedCandidates = 1000;

int SextetOf(unsigned char c)
{
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

} // namespace

std::string Base64Encode(const std::vector<uint8_t>& bytes)
{
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3)
  {
    const size_t left = bytes.size() - i;
    uint32_t v = uint32_t{bytes[i]} << 16;
    if (left > 1)
      v |= uint32_t{bytes[i + 1]} << 8;
    if (left > 2)
      v |= bytes[i + 2];
    text += kAlphabet[(v >> 18) & 63];
    text += kAlphabet[(v >> 12) & 63];
    text += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[v & 63] : '=';
  }
  return text;
}

bool Base64Decode(const std::string& text, std::vector<uint8_t>& out)
{
  out.clear();
  if (text.size() % 4 != 0)
    return false;
  out.reserve(text.size() / 4 * 3);
  for (size_t g = 0; g < text.size(); g += 4)
  {
    int padding = 0;
    if (g + 4 == text.size())
    {
      if (text[g + 3] == '=' && text[g + 2] == '=')
        padding = 2;
      else if (text[g + 3] == '=')
        padding = 1;
    }
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
    {
      int sextet = 0;
      if (k < 4 - padding)
      {
        sextet = SextetOf(static_cast<unsigned char>(text[g + static_cast<size_t>(k)]));
        if (sextet < 0)
          return false;
      }
      v = (v << 6) | static_cast<uint32_t>(sextet);
    }
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (padding < 2)
      out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    if (padding == 0)
      out.push_back(static_cast<uint8_t>(v & 0xFF));
  }
  return true;
}

std::string FormatPresetText(const PresetFormat& format, const std::string& name, const std::vector<uint8_t>& state)
{
  std::string text = format.header;
  text += "\nname=" + SingleLine(name);
  text += "\nstate=" + Base64Encode(state) + "\n";
  return text;
}

bool WritePresetFile(const PresetFormat& format, const std::filesystem::path& folder, const std::string& name,
                     const std::vector<uint8_t>& state, std::string& error)
{
  std::filesystem::path destination = PresetFilePath(format, folder, name);
  if (destination.empty())
  {
    // Every numbered name holds some other preset; overwriting one would lose it.
    error = "no free file name is left for the preset " + SingleLine(name);
    return false;
  }
  return WriteTextFileAtomic(destination, FormatPresetText(format, name, state), error);
}

bool ReadPresetFile(const PresetFormat& format, const std::filesystem::path& path, PresetFile& preset,
                    std::string& error)
{
  std::string contents;
  const ReadOutcome outcome = ReadSmallFile(path, kMaxStoredFileBytes, contents);
  if (outcome == ReadOutcome::kTooLarge)
  {
    error = TooLargeText(path);
    return false;
  }

  std::istringstream in(contents);
  std::string line;
  bool haveHeader = false;
  if (outcome == ReadOutcome::kOk && std::getline(in, line))
  {
    DropTrailingCr(line);
    haveHeader = line == format.header;
  }
  if (!haveHeader)
  {
    error = std::string("not an ") + format.productName + " preset: " + FileNameText(path);
    return false;
  }

  preset = PresetFile{};
  bool ok = false;
  while (std::getline(in, line))
  {
    DropTrailingCr(line);
    size_t eq = line.find('=');
    if (line.empty() || eq == std::string::npos)
      continue;
    std::string key = line.substr(0, eq);
    if (key == "name")
      preset.name = line.substr(eq + 1);
    else if (key == "state")
      ok = Base64Decode(line.substr(eq + 1), preset.state) && !preset.state.empty();
  }

  if (!ok)
  {
    error = "the preset has no readable state: " + FileNameText(path);
    return false;
  }
  if (preset.name.empty())
    preset.name = FileStemText(path);
  preset.path = path;
  return true;
}

std::filesystem::path PresetFilePath(const PresetFormat& format, const std::filesystem::path& folder,
                                     const std::string& name)
{
  // The stored name is single-line, so compare against the same form.
  const std::string wanted = SingleLine(name);
  const std::filesystem::path base = SafeFilePath(folder, name, format.extension, "Preset");
  const std::string stem = FileStemText(base);

  auto candidateAt = [&](int n) {
    return n == 0 ? base : folder / std::filesystem::path(stem + "-" + std::to_string(n) + format.extension);
  };

  // The preset's own file wins over a free name earlier in the numbering, so
  // one name never ends up in two files after a gap has opened.
  int firstFree = -1;
  for (int n = 0; n < kNumberedCandidates; ++n)
  {
    std::filesystem::path candidate = candidateAt(n);
    if (!PathExists(candidate))
    {
      if (firstFree < 0)
        firstFree = n;
      continue;
    }
    PresetFile existing;
    std::string error;
    if (ReadPresetFile(format, candidate, existing, error) && existing.name == wanted)
      return candidate;
  }
  if (firstFree >= 0)
    return candidateAt(firstFree);
  return {};
}

} // namespace morvellan::offline
