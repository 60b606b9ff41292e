#include "SharedThread.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace iplug
{

namespace
{

struct ExitHooks
{
  std::mutex mutex;
  std::vector<void (*)()> hooks;
};

// Never destroyed: hooks may still be added while static destructors run.
ExitHooks& Hooks()
{
  static auto* hooks = new ExitHooks;
  return *hooks;
}

} // namespace

void AddModuleExitHook(void (*hook)())
{
  ExitHooks& h = Hooks();
  std::lock_guard<std::mutex> lock(h.mutex);
  if (hook && std::find(h.hooks.begin(), h.hooks.end(), hook) == h.hooks.end())
    h.hooks.push_back(hook);
}

void RunModuleExitHooks()
{
  std::vector<void (*)()> hooks;
  {
    ExitHooks& h = Hooks();
    std::lock_guard<std::mutex> lock(h.mutex);
    hooks = h.hooks;
  }
  for (auto* hook : hooks)
    hook();
}

} // namespace iplug
