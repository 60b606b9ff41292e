// Placeholder until the desktop services land: every choice is a cancel.
#include "PlatformServices.h"

namespace iplug::igraphics
{

namespace
{
class Cancelled final : public FileChooserProcess
{
public:
  bool Poll(std::string& path) override { path.clear(); return true; }
};
} // namespace

std::unique_ptr<FileChooserProcess> FileChooserProcess::Start(const FileChooserCall&)
{
  return std::make_unique<Cancelled>();
}

bool LaunchUrl(const std::string&) { return false; }

ScopedFileChooserHook::ScopedFileChooserHook(FileChooserAnswer) {}
ScopedFileChooserHook::~ScopedFileChooserHook() = default;
ScopedOpenUrlHook::ScopedOpenUrlHook(std::function<bool(const std::string&)>) {}
ScopedOpenUrlHook::~ScopedOpenUrlHook() = default;

} // namespace iplug::igraphics
