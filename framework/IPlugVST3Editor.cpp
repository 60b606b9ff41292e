// The editor side of IPlugVST3: the view, resizing through the host, the host's context
// menu, the idle hand-over to an open view and the headless snapshot.

#include "IPlugVST3.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"

#include "Vst3Strings.h"
#include "igraphics/EditorView.h"
#include "igraphics/IGraphics.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug
{

namespace
{

// Draw scales a snapshot accepts: the window's range with room on both sides.
constexpr double kMinSnapshotScale = 0.25;
constexpr double kMaxSnapshotScale = 4.0;

void SetStringAttribute(IAttributeList* attributes, const char* id, const std::string& text)
{
  // UTF-16 never needs more units than the UTF-8 text has bytes.
  std::vector<char16> wide(text.size() + 1, 0);
  Utf8ToUtf16(text.c_str(), wide.data(), wide.size());
  attributes->setString(id, wide.data());
}

} // namespace

IPlugView* PLUGIN_API IPlugVST3::createView(FIDString name)
{
  if (!name || std::strcmp(name, ViewType::kEditor) != 0 || !mConfig.plugHasUI)
    return nullptr;
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  // Changes made while the editor was closed reach the host now, on its UI thread.
  InformHostOfStateChange();
  if (!mMakeGraphicsFunc)
    return nullptr;
  try
  {
    return new igraphics::EditorView(*this);
  }
  catch (...)
  {
    return nullptr;
  }
}

void IPlugVST3::EditorResizeFromUI(int width, int height, bool needsPlatformResize)
{
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (mEditorView && needsPlatformResize)
    mEditorView->ResizeFromEditor(width, height);
  else
    IEditorDelegate::EditorResizeFromUI(width, height, needsPlatformResize);
}

void IPlugVST3::PopupHostContextMenuForParam(int paramIdx, float x, float y)
{
  std::lock_guard<std::recursive_mutex> lock(mUILock);
  if (!mComponentHandler || !mEditorView || !GetParam(paramIdx) || !std::isfinite(x) || !std::isfinite(y))
    return;
  IComponentHandler3* handler3 = nullptr;
  if (mComponentHandler->queryInterface(IComponentHandler3::iid, reinterpret_cast<void**>(&handler3)) != kResultOk ||
      !handler3)
    return;
  const ParamID id = static_cast<ParamID>(paramIdx);
  if (IContextMenu* menu = handler3->createContextMenu(mEditorView, &id))
  {
    menu->popup(static_cast<UCoord>(std::lround(x)), static_cast<UCoord>(std::lround(y)));
    menu->release();
  }
  handler3->release();
}

void IPlugVST3::AttachEditorView(igraphics::EditorView* view)
{
  mEditorView = view;
  mIdleOnHostLoop = true;
}

void IPlugVST3::DetachEditorView(igraphics::EditorView* view)
{
  if (mEditorView != view)
    return;
  mEditorView = nullptr;
  mIdleOnHostLoop = false;
}

bool IPlugVST3::HandleEditorSnapshot(IAttributeList* attributes)
{
  if (!attributes)
    return false;
  std::string path;
  const void* data = nullptr;
  uint32 size = 0;
  if (attributes->getBinary("path", data, size) == kResultTrue && data)
    path.assign(static_cast<const char*>(data), size);
  // A terminator sent along with the text is not part of the path.
  while (!path.empty() && path.back() == '\0')
    path.pop_back();
  double scale = 1.;
  if (attributes->getFloat("scale", scale) != kResultTrue)
    scale = 1.;
  std::string error;
  const bool ok = WriteEditorSnapshot(path, scale, error);
  attributes->setInt("ok", ok ? 1 : 0);
  if (!ok)
    SetStringAttribute(attributes, "error", error);
  return true;
}

bool IPlugVST3::WriteEditorSnapshot(const std::string& path, double scale, std::string& error)
{
  if (path.empty() || path.find('\0') != std::string::npos)
  {
    error = "no file to write the snapshot to";
    return false;
  }
  if (!(scale >= kMinSnapshotScale && scale <= kMaxSnapshotScale))
  {
    error = "the draw scale must be from 0.25 to 4";
    return false;
  }
  if (!mConfig.plugHasUI || !mMakeGraphicsFunc)
  {
    error = "the plug-in has no editor";
    return false;
  }
  // The open window owns the one graphics context the plug-in talks to.
  if (mEditorView || GetUI())
  {
    error = "the editor is open";
    return false;
  }
  std::unique_ptr<igraphics::IGraphics> graphics;
  bool written = false;
  try
  {
    graphics.reset(mMakeGraphicsFunc());
    if (!graphics)
    {
      error = "the plug-in made no graphics context";
      return false;
    }
    // Drawn at the scale asked for alone, whatever screen scale the plug-in's windows had.
    graphics->SetScreenScale(1.f);
    graphics->Resize(graphics->Width(), graphics->Height(), static_cast<float>(scale), false);
    SetGraphics(graphics.get());
    if (mLayoutFunc)
      mLayoutFunc(graphics.get());
    SendCurrentParamValuesFromDelegate();
    // Idle steps between frames, as in a window: the texts and meter values the idle
    // callback hands to the controls show too.
    for (int i = 0; i < 2; ++i)
    {
      if (IdleTimerRunning())
        RunIdleTick();
      graphics->OnFrame();
    }
    written = graphics->WritePNG(path.c_str());
    if (!written)
      error = "could not write " + path;
  }
  catch (const std::exception& e)
  {
    error = std::string("the editor failed to draw: ") + e.what();
    written = false;
  }
  catch (...)
  {
    error = "the editor failed to draw";
    written = false;
  }
  if (graphics)
    graphics->RemoveAllControls();
  SetGraphics(nullptr);
  return written;
}

} // namespace iplug
