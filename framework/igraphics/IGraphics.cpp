#include "IGraphics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "CairoBackend.h"
#include "FallbackFonts.h"
#include "IEditorDelegate.h"
#include "IPanelControl.h"
#include "PlatformServices.h"
#include "PopupMenuView.h"
#include "TextEntryView.h"

namespace iplug::igraphics
{

namespace
{

// Two presses this close in time and place make a double click.
constexpr double kDoubleClickMs = 400.;
constexpr float kDoubleClickPx = 4.f;
// Controls draw with antialiased edges that may reach a little past their rectangle.
constexpr float kClipGrow = 0.75f;
// How long a picture written to a file waits for the system fonts its text asked for.
constexpr std::chrono::milliseconds kPictureFontWait(10000);

bool ValidScale(float scale)
{
  return std::isfinite(scale) && scale > 0.f;
}

} // namespace

const EmbeddedResource* EmbeddedResources::Find(const char* name) const
{
  if (!name)
    return nullptr;
  for (std::size_t i = 0; i < count; ++i)
    if (std::strcmp(items[i].name, name) == 0)
      return &items[i];
  return nullptr;
}

IGraphics::IGraphics(IEditorDelegate& dlg, int w, int h, int fps, float scale)
: mDelegate(dlg)
, mWidth(std::max(1, w))
, mHeight(std::max(1, h))
, mFPS(fps)
, mDrawScale(ValidScale(scale) ? scale : 1.f)
, mBackend(std::make_unique<CairoBackend>())
, mMenuView(std::make_unique<PopupMenuView>(*this))
, mTextEntryView(std::make_unique<TextEntryView>(*this))
{
  mBackend->SetSize(mWidth, mHeight, GetTotalScale());
  mFontsSeen = FallbackFontsGeneration();
}

IGraphics::~IGraphics()
{
  RemoveAllControls();
  mFileChoices.clear();
}

IGraphics* MakeGraphics(IEditorDelegate& dlg, int w, int h, int fps, float scale)
{
  return new IGraphics(dlg, w, h, fps, scale);
}

void IGraphics::SetScreenScale(float scale)
{
  if (!ValidScale(scale) || scale == mScreenScale)
    return;
  mScreenScale = scale;
  mBackend->SetSize(mWidth, mHeight, GetTotalScale());
  mAllDirty = true;
}

int IGraphics::WindowWidth() const
{
  return static_cast<int>(std::lround(mWidth * GetTotalScale()));
}

int IGraphics::WindowHeight() const
{
  return static_cast<int>(std::lround(mHeight * GetTotalScale()));
}

void IGraphics::Resize(int w, int h, float scale, bool needsPlatformResize)
{
  if (!ValidScale(scale) || w < 1 || h < 1)
    return;
  const bool changed = w != mWidth || h != mHeight || scale != mDrawScale;
  mWidth = w;
  mHeight = h;
  mDrawScale = scale;
  if (changed)
    mBackend->SetSize(mWidth, mHeight, GetTotalScale());
  mAllDirty = true;
  if (needsPlatformResize)
    mDelegate.EditorResizeFromUI(WindowWidth(), WindowHeight(), true);
}

// Controls

IControl* IGraphics::AttachControl(IControl* pControl, int ctrlTag)
{
  if (!pControl)
    return nullptr;
  pControl->SetTag(ctrlTag);
  pControl->SetGraphics(this);
  mControls.emplace_back(pControl);
  // A bound control starts from the plug-in's current values.
  for (int v = 0; v < pControl->NVals(); ++v)
    if (const IParam* param = pControl->GetParam(v))
      pControl->SetValue(param->GetNormalized(), v);
  pControl->OnAttached();
  pControl->SetDirty(false);
  return pControl;
}

void IGraphics::AttachPanelBackground(const IColor& color)
{
  mBackgroundColor = color;
  AttachControl(new IPanelControl(IRECT(0.f, 0.f, static_cast<float>(mWidth), static_cast<float>(mHeight)), color));
}

IControl* IGraphics::GetControlWithTag(int ctrlTag) const
{
  if (ctrlTag == kNoTag)
    return nullptr;
  for (const auto& c : mControls)
    if (c->GetTag() == ctrlTag)
      return c.get();
  return nullptr;
}

IControl* IGraphics::GetControl(int idx) const
{
  return idx >= 0 && idx < NControls() ? mControls[static_cast<size_t>(idx)].get() : nullptr;
}

void IGraphics::RemoveAllControls()
{
  // Nothing may call back into a control that is about to go.
  if (mMenuView)
    mMenuView->Close(false);
  if (mTextEntryView)
    mTextEntryView->Cancel();
  ReleaseMouseCapture();
  mMouseOverControl = nullptr;
  mControls.clear();
  if (mCursor != ECursor::ARROW)
    SetMouseCursor(ECursor::ARROW);
  mAllDirty = true;
}

void IGraphics::SetAllControlsDirty()
{
  mAllDirty = true;
  for (auto& c : mControls)
    c->SetDirty(false);
}

void IGraphics::SetParamValueFromDelegate(int paramIdx, double normalizedValue)
{
  for (auto& c : mControls)
  {
    const int valIdx = c->LinkedToParam(paramIdx);
    if (valIdx != kNoValIdx)
      c->SetValueFromDelegate(normalizedValue, valIdx);
  }
}

void IGraphics::SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* pData)
{
  if (IControl* c = GetControlWithTag(ctrlTag))
    c->OnMsgFromDelegate(msgTag, dataSize, pData);
}

// Services

void IGraphics::CreatePopupMenu(IControl& control, IPopupMenu& menu, const IRECT& bounds, int valIdx)
{
  if (mTextEntryView->IsOpen())
    mTextEntryView->Commit();
  // The menu takes the mouse from here on: the press that opened it is over.
  ReleaseMouseCapture();
  mMenuView->Open(control, menu, bounds, valIdx);
}

void IGraphics::CreateTextEntry(IControl& control, const IText& text, const IRECT& bounds, const char* str,
                                int valIdx)
{
  if (mMenuView->IsOpen())
    mMenuView->Close(false);
  if (mTextEntryView->IsOpen())
    mTextEntryView->Cancel();
  ReleaseMouseCapture();
  mTextEntryView->Open(control, text, bounds, str ? str : "", valIdx, control.GetTextEntryLength());
  if (mPlatform)
    mPlatform->RequestKeyboardFocus();
}

void IGraphics::PromptForFile(WDL_String& fileName, WDL_String& path, EFileAction action, const char* ext,
                              IFileDialogCompletionHandlerFunc completionHandler)
{
  FileChooserCall call;
  call.action = action;
  call.extensions = ext ? ext : "";
  call.folder = path.Get();
  call.fileName = fileName.Get();
  mFileChoices.push_back(PendingFileChoice{FileChooserProcess::Start(call), std::move(completionHandler)});
}

void IGraphics::ShowMessageBox(const char* str, const char* title, EMsgBoxType type, MessageBoxCompletion completion)
{
  mDelegate.ShowMessageBox(str ? str : "", title ? title : "", type, std::move(completion));
}

bool IGraphics::OpenURL(const char* url, const char*, const char*, const char*)
{
  return url && *url && LaunchUrl(url);
}

ECursor IGraphics::SetMouseCursor(ECursor cursor)
{
  const ECursor previous = mCursor;
  mCursor = cursor;
  if (mPlatform && previous != cursor)
    mPlatform->SetCursor(cursor);
  return previous;
}

// Mouse

IControl* IGraphics::GetMouseControl(float x, float y) const
{
  for (auto it = mControls.rbegin(); it != mControls.rend(); ++it)
  {
    IControl* c = it->get();
    if (c->IsHidden() || c->GetIgnoreMouse() || c->IsDisabled())
      continue;
    if (c->IsHit(x, y))
      return c;
  }
  return nullptr;
}

void IGraphics::EndCapture(float x, float y, const IMouseMod& mod)
{
  IControl* c = mCapturedControl;
  if (!c)
    return;
  c->OnMouseUp(x, y, mod);
  // The control may have been removed by its own release.
  if (mCapturedControl == c)
    ReleaseMouseCapture();
}

void IGraphics::ReleaseMouseCapture()
{
  IControl* c = mCapturedControl;
  mCapturedControl = nullptr;
  if (!c)
    return;
  // Every gesture the host heard begin also ends.
  for (int v = 0; v < c->NVals(); ++v)
    if (c->GetParam(v))
      mDelegate.EndInformHostOfParamChangeFromUI(c->GetParamIdx(v));
}

void IGraphics::SetMouseOverControl(IControl* control, float x, float y, const IMouseMod& mod)
{
  if (control != mMouseOverControl)
  {
    if (mMouseOverControl)
      mMouseOverControl->OnMouseOut();
    mMouseOverControl = control;
  }
  if (control)
    control->OnMouseOver(x, y, mod);
}

void IGraphics::OnMouseDown(float px, float py, const IMouseMod& mod, double timeMs)
{
  const float x = px / GetTotalScale(), y = py / GetTotalScale();

  if (mTextEntryView->IsOpen() && mTextEntryView->OnMouseDown(x, y, mod))
    return;
  if (mMenuView->IsOpen())
  {
    mMenuView->OnMouseDown(x, y, mod);
    return;
  }

  // Two presses of the same button: a right press then a left one is not a double click.
  const bool right = mod.R && !mod.L;
  const bool isDouble = !mLastDownWasDouble && right == mLastDownWasRight &&
                        timeMs - mLastDownTime < kDoubleClickMs && std::fabs(px - mLastDownPx) < kDoubleClickPx &&
                        std::fabs(py - mLastDownPy) < kDoubleClickPx;
  mLastDownTime = timeMs;
  mLastDownPx = px;
  mLastDownPy = py;
  mLastDownWasDouble = isDouble;
  mLastDownWasRight = right;

  // A second button pressed mid-drag ends that drag as its release would, so the control
  // closes what its press opened (a gesture of its own, a drag state).
  EndCapture(x, y, mCaptureMod);

  IControl* control = GetMouseControl(x, y);
  if (!control)
    return;

  // The host owns the right button of a bound control: its own menu for that parameter.
  if (mod.R && control->GetParam(0))
  {
    mDelegate.PopupHostContextMenuForParam(control->GetParamIdx(0), px, py);
    return;
  }

  mCapturedControl = control;
  mCaptureMod = mod;
  mLastPx = px;
  mLastPy = py;
  for (int v = 0; v < control->NVals(); ++v)
    if (control->GetParam(v))
      mDelegate.BeginInformHostOfParamChangeFromUI(control->GetParamIdx(v));

  if (isDouble && !control->GetDblAsSingleClick())
    control->OnMouseDblClick(x, y, mod);
  else
    control->OnMouseDown(x, y, mod);
}

void IGraphics::OnMouseUp(float px, float py, const IMouseMod& mod)
{
  const float x = px / GetTotalScale(), y = py / GetTotalScale();
  if (mMenuView->IsOpen())
  {
    mMenuView->OnMouseUp(x, y, mod);
    return;
  }
  EndCapture(x, y, mod);
  if (mEnableMouseOver)
    SetMouseOverControl(GetMouseControl(x, y), x, y, mod);
}

void IGraphics::OnMouseMove(float px, float py, const IMouseMod& mod)
{
  const float x = px / GetTotalScale(), y = py / GetTotalScale();
  if (mMenuView->IsOpen())
  {
    mMenuView->OnMouseMove(x, y, mod);
    return;
  }
  if (IControl* c = mCapturedControl)
  {
    // Movement in pixels at this moment's scale, so a drag that rescales the window
    // keeps its pace.
    const float dX = (px - mLastPx) / GetTotalScale();
    const float dY = (py - mLastPy) / GetTotalScale();
    mLastPx = px;
    mLastPy = py;
    c->OnMouseDrag(x, y, dX, dY, mod);
    if (mCapturedControl != c || !mEnableMouseOver)
      return;
    // Only the dragged control hears over and out until the release.
    const bool over = !c->IsHidden() && c->IsHit(x, y);
    if (over)
      SetMouseOverControl(c, x, y, mod);
    else if (mMouseOverControl == c)
    {
      mMouseOverControl = nullptr;
      c->OnMouseOut();
    }
    return;
  }
  if (mEnableMouseOver)
    SetMouseOverControl(GetMouseControl(x, y), x, y, mod);
}

void IGraphics::OnMouseOutOfWindow()
{
  if (mMouseOverControl)
  {
    IControl* c = mMouseOverControl;
    mMouseOverControl = nullptr;
    c->OnMouseOut();
  }
}

void IGraphics::OnMouseWheel(float px, float py, const IMouseMod& mod, float d)
{
  const float x = px / GetTotalScale(), y = py / GetTotalScale();
  if (mMenuView->IsOpen())
  {
    mMenuView->OnMouseWheel(x, y, d);
    return;
  }
  if (mCapturedControl)
    return;
  IControl* control = GetMouseControl(x, y);
  if (!control)
    return;
  // A wheel step on a bound control is a gesture of its own.
  std::vector<int> bound;
  for (int v = 0; v < control->NVals(); ++v)
    if (control->GetParam(v))
      bound.push_back(control->GetParamIdx(v));
  for (int p : bound)
    mDelegate.BeginInformHostOfParamChangeFromUI(p);
  control->OnMouseWheel(x, y, mod, d);
  for (int p : bound)
    mDelegate.EndInformHostOfParamChangeFromUI(p);
}

bool IGraphics::OnKeyDown(const IKeyPress& key)
{
  if (mTextEntryView->IsOpen())
    return mTextEntryView->OnKey(key);
  if (mMenuView->IsOpen())
    return mMenuView->OnKey(key);
  return false;
}

// Frames

IRECT IGraphics::OnFrame()
{
  RunCompletions();
  TakeArrivedFonts();

  // Every control is asked, whether or not anything is known to have changed: some
  // learn of outside changes only here.
  std::vector<IRECT> areas;
  for (size_t i = 0; i < mControls.size(); ++i)
  {
    IControl* c = mControls[i].get();
    if (c->IsDirty())
      AddDirtyArea(areas, c->GetRECT().GetPadded(kClipGrow).Union(c->mDrawnRECT));
  }
  // IsDirty of one control may have marked others (or everything).
  for (auto& c : mControls)
    if (c->mDirty)
      AddDirtyArea(areas, c->GetRECT().GetPadded(kClipGrow).Union(c->mDrawnRECT));
  AddDirtyArea(areas, mMenuView->TakeDirtyArea());
  AddDirtyArea(areas, mTextEntryView->TakeDirtyArea());

  const IRECT canvas(0.f, 0.f, static_cast<float>(mWidth), static_cast<float>(mHeight));
  if (mAllDirty)
  {
    areas.assign(1, canvas);
    mAllDirty = false;
  }

  // Whole pixels, so a partial repaint leaves no seams.
  const float s = GetTotalScale();
  const IRECT surface(0.f, 0.f, static_cast<float>(mBackend->PixelWidth()), static_cast<float>(mBackend->PixelHeight()));
  std::vector<IRECT> regions;
  IRECT drawn;
  for (const IRECT& area : areas)
  {
    const IRECT a = area.Intersect(canvas);
    if (a.Degenerate())
      continue;
    const IRECT px = a.GetWholePixels(s).Intersect(surface);
    regions.push_back(IRECT(px.L / s, px.T / s, px.R / s, px.B / s));
    drawn = drawn.Union(px);
  }
  if (!regions.empty())
    DrawRegions(regions);
  return drawn;
}

void IGraphics::RunCompletions()
{
  // File choices finish here, on the UI thread.
  for (size_t i = 0; i < mFileChoices.size();)
  {
    std::string chosen;
    if (mFileChoices[i].process && !mFileChoices[i].process->Poll(chosen))
    {
      ++i;
      continue;
    }
    PendingFileChoice done = std::move(mFileChoices[i]);
    mFileChoices.erase(mFileChoices.begin() + static_cast<std::ptrdiff_t>(i));
    if (done.completion)
    {
      WDL_String file(chosen.c_str());
      WDL_String folder(chosen.empty() ? "" : std::filesystem::path(chosen).parent_path().string().c_str());
      done.completion(file, folder);
    }
  }
  mDelegate.PollMessageBoxes();
}

// Dirty areas far apart are drawn apart; ones that meet, or whose common box wastes
// little, become one.
void IGraphics::AddDirtyArea(std::vector<IRECT>& areas, IRECT area)
{
  constexpr size_t kMaxAreas = 8;
  constexpr float kWaste = 1.25f;
  const auto size = [](const IRECT& r) { return r.Degenerate() ? 0.f : r.W() * r.H(); };
  if (area.Degenerate())
    return;
  for (bool merged = true; merged;)
  {
    merged = false;
    for (size_t i = 0; i < areas.size(); ++i)
    {
      const IRECT both = areas[i].Union(area);
      if (areas[i].Intersects(area) || size(both) <= kWaste * (size(areas[i]) + size(area)))
      {
        area = both;
        areas.erase(areas.begin() + static_cast<std::ptrdiff_t>(i));
        merged = true;
        break;
      }
    }
  }
  areas.push_back(area);
  if (areas.size() > kMaxAreas)
  {
    IRECT all;
    for (const IRECT& r : areas)
      all = all.Union(r);
    areas.assign(1, all);
  }
}

void IGraphics::DrawRegions(const std::vector<IRECT>& regions)
{
  mDrawing = true;
  const float s = mBackend->Scale();
  for (const IRECT& region : regions)
  {
    mRegionPixels = IRECT(std::round(region.L * s), std::round(region.T * s), std::round(region.R * s),
                          std::round(region.B * s));
    mBackend->BeginRegion(region);
    for (auto& c : mControls)
    {
      if (c->IsHidden())
        continue;
      const IRECT bounds = c->GetRECT().GetPadded(kClipGrow);
      if (bounds.Intersects(region))
      {
        mBackend->PushClip(bounds);
        mControlClip = bounds;
        mDrawingControl = c.get();
        c->Draw(*this);
        mDrawingControl = nullptr;
        while (!mOpenLayers.empty())
          EndLayer();
        PathClipRegion();
        mBackend->PopClip();
        c->mDrawnRECT = bounds;
      }
    }
    if (mMenuView->IsOpen() && mMenuView->Bounds().Intersects(region))
      mMenuView->Draw(*this);
    if (mTextEntryView->IsOpen() && mTextEntryView->Bounds().Intersects(region))
      mTextEntryView->Draw(*this);
    PathClipRegion();
    mBackend->EndRegion();
  }
  for (auto& c : mControls)
  {
    if (c->IsHidden())
      c->mDrawnRECT = IRECT();
    c->SetClean();
  }
  mDrawing = false;
}

void IGraphics::PathClipRegion(const IRECT& r)
{
  if (!mDrawing)
    return;
  if (mRegionClipped)
  {
    mBackend->PopClip();
    mRegionClipped = false;
  }
  if (r.Empty() || !(std::isfinite(r.L) && std::isfinite(r.T) && std::isfinite(r.R) && std::isfinite(r.B)))
    return;
  // Nested in the control's clip, so it can only narrow it.
  mBackend->PushClip(r);
  mRegionClipped = true;
  mRegionClip = r;
}

const unsigned char* IGraphics::GetPixels(int& stride) const
{
  return mBackend->Pixels(stride);
}

bool IGraphics::WritePNG(const char* path)
{
  mAllDirty = true;
  OnFrame();
  // A picture is drawn once and kept, so it is worth the wait a frame never makes. A text
  // redrawn in its own faces may fit otherwise and ask for more characters, hence a few rounds.
  for (int round = 0; round < 3 && AwaitsFonts() && WaitForFallbackFonts(kPictureFontWait); ++round)
    OnFrame();
  return mBackend->WritePNG(path);
}

// Stand-in faces

void IGraphics::NoteStandInFonts() const
{
  ++mStandIns;
  if (mDrawingControl)
    mDrawingControl->mAwaitsFonts = true;
  else if (mDrawing)
    mOverlayAwaitsFonts = true;
  else
    mMeasureAwaitsFonts = true;
}

bool IGraphics::AwaitsFonts() const
{
  return mOverlayAwaitsFonts || mMeasureAwaitsFonts ||
         std::any_of(mControls.begin(), mControls.end(), [](const auto& c) { return c->mAwaitsFonts; });
}

void IGraphics::TakeArrivedFonts()
{
  // One atomic read a frame: the worker never calls into the UI.
  const unsigned arrived = FallbackFontsGeneration();
  if (arrived == mFontsSeen)
    return;
  mFontsSeen = arrived;
  bool redrawn = false;
  for (auto& c : mControls)
    if (c->mAwaitsFonts)
    {
      // Drawing it again asks again: what is still missing sets the mark again.
      c->mAwaitsFonts = false;
      c->mDirty = true;
      redrawn = true;
    }
  // The overlays and whoever measured outside a Draw are not known by name. A menu
  // measures its texts when it opens.
  if (mOverlayAwaitsFonts || mMeasureAwaitsFonts)
  {
    mMenuView->Remeasure();
    mAllDirty = true;
    redrawn = true;
  }
  mOverlayAwaitsFonts = mMeasureAwaitsFonts = false;
  if (redrawn)
    ++mTextMeasureGeneration;
}

// What is open

bool IGraphics::IsMenuOpen() const
{
  return mMenuView->IsOpen();
}

IPopupMenu* IGraphics::GetOpenMenu() const
{
  return mMenuView->Menu();
}

bool IGraphics::ChooseFromOpenMenu(const std::vector<int>& path)
{
  return mMenuView->Choose(path);
}

void IGraphics::DismissMenu()
{
  mMenuView->Close(true);
}

bool IGraphics::IsTextEntryOpen() const
{
  return mTextEntryView->IsOpen();
}

std::string IGraphics::GetTextEntryText() const
{
  return mTextEntryView->Text();
}

const IRECT* IGraphics::GetTextEntryBounds() const
{
  return mTextEntryView->IsOpen() ? &mTextEntryView->Bounds() : nullptr;
}

void IGraphics::CommitTextEntry(const char* str)
{
  if (!mTextEntryView->IsOpen())
    return;
  mTextEntryView->SetText(str ? str : "");
  mTextEntryView->Commit();
}

void IGraphics::CancelTextEntry()
{
  mTextEntryView->Cancel();
}

} // namespace iplug::igraphics
