#include "TargetFile.h"

#include "StoredFiles.h"

#include <algorithm>
#include <cmath>
#include <locale>
#include <sstream>

namespace morvellan::offline {

namespace {

const char* const kFactoryTargetTexts[] = {
  "Morvellan target 1\nname=Female speech\n"
  "balance=-10.973 1.316 2.213 2.973 4.772 5.145 -0.022 -5.152 -9.929 -11.856 -10.865 -22.032\n",
  "Morvellan target 1\nname=Female vocals pop\n"
  "balance=-16.951 -3.814 2.559 2.690 0.768 1.600 1.708 -3.106 -6.219 -6.482 -5.313 -14.984\n",
  "Morvellan target 1\nname=Female vocals rock\n"
  "balance=-28.622 -16.667 -3.687 -0.241 1.455 5.930 3.156 -0.623 -5.990 -7.389 -7.231 -20.129\n",
  "Morvellan target 1\nname=Male speech\n"
  "balance=-1.322 1.174 2.931 6.236 5.584 2.962 -0.038 -7.165 -10.511 -9.760 -10.371 -23.382\n",
  "Morvellan target 1\nname=Male vocals pop\n"
  "balance=-16.209 -3.047 1.036 0.548 5.059 3.928 1.613 -4.560 -7.625 -7.506 -8.378 -15.707\n",
  "Morvellan target 1\nname=Male vocals rock\n"
  "balance=-27.419 -14.612 -3.615 -0.955 0.706 0.882 4.623 2.649 -3.017 -5.567 -11.852 -28.264\n",
  nullptr,
};

} // namespace

std::string FormatTargetText(const std::string& name, const std::string& source, const StoredBalance& balance)
{
  std::ostringstream values;
  values.imbue(std::locale::classic());
  values.setf(std::ios::fixed, std::ios::floatfield);
  values.precision(3);
  for (int i = 0; i < kStoredBandCount; ++i)
  {
    if (i > 0)
      values << ' ';
    values << balance[static_cast<size_t>(i)];
  }

  std::string text = kTargetHeader;
  text += "\nname=" + SingleLine(name);
  text += "\nsource=" + SingleLine(source);
  text += "\nbalance=" + values.str() + "\n";
  return text;
}

bool WriteTargetFile(const std::filesystem::path& folder, const std::string& name, const std::string& source,
                     const StoredBalance& balance, std::string& error)
{
  // "nan" or "inf" would make a file that no reader accepts.
  for (double v : balance)
    if (!std::isfinite(v))
    {
      error = "the target holds a value that is not a finite number";
      return false;
    }
  return WriteTextFileAtomic(TargetFilePath(folder, name), FormatTargetText(name, source, balance), error);
}

bool ParseTarget(std::istream& in, SavedTarget& target, std::string& error, const std::string& label)
{
  std::string line;
  bool haveHeader = false;
  if (in && std::getline(in, line))
  {
    DropTrailingCr(line);
    haveHeader = line == kTargetHeader;
  }
  if (!haveHeader)
  {
    error = "not an Morvellan target: " + label;
    return false;
  }

  target = SavedTarget{};
  bool complete = false;
  while (std::getline(in, line))
  {
    DropTrailingCr(line);
    size_t eq = line.find('=');
    if (line.empty() || eq == std::string::npos)
      continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (key == "name")
      target.name = std::move(value);
    else if (key == "source")
      target.source = std::move(value);
    else if (key == "balance")
    {
      // The classic locale: a host running with a decimal comma must still read "1.5".
      std::istringstream numbers(value);
      numbers.imbue(std::locale::classic());
      int count = 0;
      for (double& band : target.balance)
      {
        double v = 0.0;
        if (!(numbers >> v))
          break;
        band = v;
        ++count;
      }
      complete = count == kStoredBandCount;
    }
  }

  if (!complete)
  {
    error = "the target has no complete curve: " + label;
    return false;
  }
  if (target.name.empty())
    target.name = label;
  return true;
}

bool ReadTargetFile(const std::filesystem::path& path, SavedTarget& target, std::string& error)
{
  std::string contents;
  switch (ReadSmallFile(path, kMaxStoredFileBytes, contents))
  {
    case ReadOutcome::kTooLarge:
      error = TooLargeText(path);
      return false;
    case ReadOutcome::kUnreadable:
      error = "not an Morvellan target: " + FileStemText(path);
      return false;
    case ReadOutcome::kOk:
      break;
  }
  std::istringstream in(contents);
  if (!ParseTarget(in, target, error, FileStemText(path)))
    return false;
  target.path = path;
  return true;
}

std::vector<SavedTarget> FactoryTargets()
{
  std::vector<SavedTarget> targets;
  for (const char* const* text = kFactoryTargetTexts; *text != nullptr; ++text)
  {
    std::istringstream in(*text);
    SavedTarget target;
    std::string error;
    if (ParseTarget(in, target, error, "factory target"))
    {
      target.factory = true;
      targets.push_back(std::move(target));
    }
  }
  std::sort(targets.begin(), targets.end(),
            [](const SavedTarget& a, const SavedTarget& b) { return a.name < b.name; });
  return targets;
}

} // namespace morvellan::offline
