#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "IControl.h"
#include "IGraphicsStructs.h"
#include "ILayer.h"
#include "IPopupMenu.h"
#include "ISVG.h"
#include "MessageBox.h"
#include "WDL_String.h"

namespace iplug
{
class IEditorDelegate;
}

namespace iplug::igraphics
{

class CairoBackend;
class PopupMenuView;
class TextEntryView;
class FileChooserProcess;

// Files the module carries inside itself (fonts, artwork), looked up by file name.
struct EmbeddedResource
{
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

struct EmbeddedResources
{
  const EmbeddedResource* items = nullptr;
  std::size_t count = 0;

  const EmbeddedResource* Find(const char* name) const;
};

// What the window under a graphics context does for it. The X11 view implements this;
// a headless context has none.
class IGraphicsPlatform
{
public:
  virtual ~IGraphicsPlatform() = default;
  virtual void SetCursor(ECursor cursor) = 0;
  // A text entry opened: the window wants the keyboard.
  virtual void RequestKeyboardFocus() = 0;
  // The host's top-level window that holds the editor, for dialogs to stay above (0: none).
  virtual unsigned long HostTopLevelWindow() = 0;
};

using IFileDialogCompletionHandlerFunc = std::function<void(const WDL_String& fileName, const WDL_String& path)>;

// The editor's drawing context: a fixed canvas (Width x Height units) shown at a draw
// scale, the controls attached to it, the drawing calls they make in Draw, and the
// services they ask for (menus, text entry, file choosers, message boxes, URLs).
// Drawing goes to an image surface; the window (or a test) takes the pixels from it.
// UI thread only.
class IGraphics
{
public:
  IGraphics(IEditorDelegate& dlg, int w, int h, int fps, float scale);
  ~IGraphics();
  IGraphics(const IGraphics&) = delete;
  IGraphics& operator=(const IGraphics&) = delete;

  // Canvas size in units, draw scale, screen (content) scale.
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  int FPS() const { return mFPS; }
  float GetDrawScale() const { return mDrawScale; }
  float GetScreenScale() const { return mScreenScale; }
  // Window pixels per canvas unit: the user's draw scale times the host's screen scale.
  float GetTotalScale() const { return mDrawScale * mScreenScale; }
  // The host's pixel density; the draw scale stays, the pixels change and everything
  // redraws. The window's new size is for the caller to arrange.
  void SetScreenScale(float scale);
  // The window in pixels: the canvas times the total scale, rounded.
  int WindowWidth() const;
  int WindowHeight() const;

  // New canvas size and draw scale; everything redraws. With needsPlatformResize the
  // delegate asks the host for the matching window (EditorResizeFromUI) in pixels.
  void Resize(int w, int h, float scale, bool needsPlatformResize = true);
  void SetLayoutOnResize(bool layout) { mLayoutOnResize = layout; }
  bool GetLayoutOnResize() const { return mLayoutOnResize; }
  void EnableMouseOver(bool enable) { mEnableMouseOver = enable; }
  bool MouseOverEnabled() const { return mEnableMouseOver; }

  IEditorDelegate* GetDelegate() const { return &mDelegate; }

  // Resources.
  void SetResources(const EmbeddedResources& resources) { mResources = resources; }
  // Loads a font from the embedded file of that name under fontID; false when it fails
  // (text in that font then draws in the fallback face).
  bool LoadFont(const char* fontID, const char* fileName);
  // An invalid ISVG when the file is missing or not SVG.
  ISVG LoadSVG(const char* fileName, const char* units = "px", float dpi = 72.f);

  // Controls. AttachControl takes ownership and returns the control.
  IControl* AttachControl(IControl* pControl, int ctrlTag = kNoTag);
  void AttachPanelBackground(const IColor& color);
  // The panel background's colour (black without one): a window larger than the canvas
  // shows it around the canvas.
  const IColor& GetBackgroundColor() const { return mBackgroundColor; }
  IControl* GetControlWithTag(int ctrlTag) const;
  IControl* GetControl(int idx) const;
  int NControls() const { return static_cast<int>(mControls.size()); }
  // Closes an open menu and text entry (no completion reaches anyone) and releases
  // the mouse first, then destroys every control.
  void RemoveAllControls();
  void SetAllControlsDirty();
  // Host -> editor: every control bound to paramIdx takes the normalised value.
  void SetParamValueFromDelegate(int paramIdx, double normalizedValue);
  // Delegate -> editor: data for the control with ctrlTag.
  void SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* pData);

  // Drawing, in canvas units, only inside IControl::Draw (or an overlay's draw).
  // Angles are degrees, 0 pointing up, growing clockwise. Non-finite coordinates
  // make the call draw nothing.
  void FillRect(const IColor& color, const IRECT& bounds, const IBlend* pBlend = nullptr);
  void DrawRect(const IColor& color, const IRECT& bounds, const IBlend* pBlend = nullptr, float thickness = 1.f);
  void FillRoundRect(const IColor& color, const IRECT& bounds, float cornerRadius = 5.f, const IBlend* pBlend = nullptr);
  void DrawRoundRect(const IColor& color, const IRECT& bounds, float cornerRadius = 5.f,
                     const IBlend* pBlend = nullptr, float thickness = 1.f);
  void FillEllipse(const IColor& color, const IRECT& bounds, const IBlend* pBlend = nullptr);
  void DrawEllipse(const IColor& color, const IRECT& bounds, const IBlend* pBlend = nullptr, float thickness = 1.f);
  void FillCircle(const IColor& color, float cx, float cy, float r, const IBlend* pBlend = nullptr);
  void DrawCircle(const IColor& color, float cx, float cy, float r, const IBlend* pBlend = nullptr,
                  float thickness = 1.f);
  void DrawLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* pBlend = nullptr,
                float thickness = 1.f);
  // Dashes of dashLen on, dashLen off, starting "on" at (x1, y1) on every call.
  void DrawDottedLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* pBlend = nullptr,
                      float thickness = 1.f, float dashLen = 2.f);
  void FillTriangle(const IColor& color, float x1, float y1, float x2, float y2, float x3, float y3,
                    const IBlend* pBlend = nullptr);
  void FillConvexPolygon(const IColor& color, const float* x, const float* y, int nPoints,
                         const IBlend* pBlend = nullptr);
  // Clockwise from a1 to a2.
  void DrawArc(const IColor& color, float cx, float cy, float r, float a1, float a2, const IBlend* pBlend = nullptr,
               float thickness = 1.f);
  // UTF-8 text aligned in bounds by the style.
  void DrawText(const IText& text, const char* str, const IRECT& bounds, const IBlend* pBlend = nullptr);
  // Fills bounds (from all zeros) with the text's extent and returns its width.
  float MeasureText(const IText& text, const char* str, IRECT& bounds) const;
  // A character our own faces lack draws from a system font, chosen on a worker: until it
  // is chosen the text draws and measures with a stand-in, and the control that drew it is
  // redrawn when it arrives. This count then moves on: a width measured before may differ now.
  unsigned TextMeasureGeneration() const { return mTextMeasureGeneration; }
  // Scaled to fit bounds, keeping its aspect, centred.
  void DrawSVG(const ISVG& svg, const IRECT& bounds, const IBlend* pBlend = nullptr);

  void PathClear();
  void PathMoveTo(float x, float y);
  void PathLineTo(float x, float y);
  void PathCubicBezierTo(float c1x, float c1y, float c2x, float c2y, float x2, float y2);
  void PathClose();
  void PathFill(const IPattern& pattern, const IFillOptions& options = IFillOptions(), const IBlend* pBlend = nullptr);
  void PathStroke(const IPattern& pattern, float thickness, const IStrokeOptions& options = IStrokeOptions(),
                  const IBlend* pBlend = nullptr);
  // Narrows the drawing to r, within the control's own rectangle, until the next call or
  // the end of the control's Draw; an empty r lifts it. It starts a new path.
  void PathClipRegion(const IRECT& r = IRECT());

  // Layers (see ILayer), only inside Draw. Between StartLayer and EndLayer every drawing
  // call goes offscreen, to the whole of r whatever part of the window this frame redraws,
  // under the clip in force at StartLayer (the control's rectangle and PathClipRegion) and
  // any PathClipRegion made in between; layers nest. A layer still open when Draw returns
  // is dropped.
  void StartLayer(const IRECT& r);
  ILayerPtr EndLayer();
  // True when the layer exists, was not invalidated and was drawn for this window size and
  // draw scale.
  bool CheckLayer(const ILayerPtr& layer) const;
  // Paints the layer where it was drawn, within the whole pixels of the clip now in force
  // (its own edges were clipped when it was drawn); nothing when it is stale.
  void DrawLayer(const ILayerPtr& layer, const IBlend* pBlend = nullptr);
  // Off: what a layer would hold is drawn straight onto the window on every frame
  // (CheckLayer answers false, EndLayer gives nothing, DrawLayer draws nothing), to compare
  // the two or to rule layers out.
  void EnableLayers(bool enable) { mLayersEnabled = enable; }

  // Services.
  // Opens menu at bounds; the choice reaches control.OnPopupMenuSelection. The menu must
  // outlive its opening (controls keep theirs as members; removal closes it first).
  void CreatePopupMenu(IControl& control, IPopupMenu& menu, const IRECT& bounds, int valIdx = kNoValIdx);
  // An entry over bounds holding at most control.GetTextEntryLength() characters.
  // Return commits (control.OnTextEntryCompletion(text, valIdx)); Escape closes with no call.
  void CreateTextEntry(IControl& control, const IText& text, const IRECT& bounds, const char* str = "",
                       int valIdx = kNoValIdx);
  // Returns at once; the completion runs later on the UI thread with the chosen file's
  // full path in fileName (empty when cancelled) and its folder in path. Dropped when
  // the editor closes first.
  void PromptForFile(WDL_String& fileName, WDL_String& path, EFileAction action, const char* ext,
                     IFileDialogCompletionHandlerFunc completionHandler);
  // Returns at once, the box kept above the host's window. A question's answer reaches
  // completion on a later frame (see MessageBoxes); without a working dialog a message is
  // dropped and a question is a No.
  void ShowMessageBox(const char* str, const char* title, EMsgBoxType type,
                      MessageBoxCompletion completion = nullptr);
  // The window's top-level host window (0 without a window).
  unsigned long HostTopLevelWindow() const { return mPlatform ? mPlatform->HostTopLevelWindow() : 0; }
  // In the user's browser; false when it could not be started.
  bool OpenURL(const char* url, const char* msgWindowTitle = nullptr, const char* confirmMsg = nullptr,
               const char* errMsgOnFailure = nullptr);
  // Returns the cursor it replaces.
  ECursor SetMouseCursor(ECursor cursor = ECursor::ARROW);
  ECursor GetMouseCursor() const { return mCursor; }

  // Platform side: input in window pixels (divided by the draw scale here), times in
  // milliseconds of any steady clock.
  void SetPlatform(IGraphicsPlatform* platform) { mPlatform = platform; }
  // Pointer positions are window pixels.
  void OnMouseDown(float px, float py, const IMouseMod& mod, double timeMs);
  void OnMouseUp(float px, float py, const IMouseMod& mod);
  // A move with or without a button held: a drag of the captured control, else hover.
  void OnMouseMove(float px, float py, const IMouseMod& mod);
  // The pointer left the window.
  void OnMouseOutOfWindow();
  void OnMouseWheel(float px, float py, const IMouseMod& mod, float d);
  // True when the key was used (an open text entry or menu).
  bool OnKeyDown(const IKeyPress& key);

  // One frame: runs queued completions, asks every control IsDirty, and redraws the
  // union of the dirty rectangles. Returns that area in window pixels (degenerate when
  // nothing was drawn).
  IRECT OnFrame();
  // What a frame does besides drawing: finished file choices and answered message boxes
  // reach their completions. A window nobody can see runs only this.
  void RunCompletions();
  // The drawn pixels: premultiplied ARGB32, WindowWidth() x WindowHeight(), stride in bytes.
  const unsigned char* GetPixels(int& stride) const;
  // Draws everything now and writes the canvas to a PNG file. Unlike a frame it waits (a
  // while at most) for system fonts its text needs.
  bool WritePNG(const char* path);

  // For tests and the overlays: what is open.
  bool IsMenuOpen() const;
  IPopupMenu* GetOpenMenu() const;
  // Chooses by positions: {3} the fourth item of the open menu, {3, 1} the second item of
  // its submenu. False (and nothing happens) when that item cannot be chosen.
  bool ChooseFromOpenMenu(const std::vector<int>& path);
  // Closes the open menu as a dismissal (the receiver hears nullptr).
  void DismissMenu();
  bool IsTextEntryOpen() const;
  std::string GetTextEntryText() const;
  const IRECT* GetTextEntryBounds() const;
  // Replaces the entry's text (cut to its length) and commits it.
  void CommitTextEntry(const char* str);
  void CancelTextEntry();
  // The control that has the mouse captured, or nullptr.
  IControl* GetCapturedControl() const { return mCapturedControl; }

  // Internal to the framework: the back end draws, the overlays use it too.
  CairoBackend& Backend() const { return *mBackend; }

private:
  friend class PopupMenuView;
  friend class TextEntryView;

  IControl* GetMouseControl(float x, float y) const;
  void ReleaseMouseCapture();
  void EndCapture(float x, float y, const IMouseMod& mod);
  static void AddDirtyArea(std::vector<IRECT>& areas, IRECT area);
  void DrawRegions(const std::vector<IRECT>& regions);
  void SetMouseOverControl(IControl* control, float x, float y, const IMouseMod& mod);
  // Text just drew or measured with stand-in faces: whatever drew it draws again on arrival.
  void NoteStandInFonts() const;
  // Marks for redrawing what used stand-ins, once the system fonts moved on.
  void TakeArrivedFonts();
  bool AwaitsFonts() const;

  IEditorDelegate& mDelegate;
  int mWidth;
  int mHeight;
  int mFPS;
  float mDrawScale;
  float mScreenScale = 1.f;
  bool mLayoutOnResize = false;
  bool mEnableMouseOver = false;
  EmbeddedResources mResources;
  IGraphicsPlatform* mPlatform = nullptr;
  ECursor mCursor = ECursor::ARROW;

  std::vector<std::unique_ptr<IControl>> mControls;

  // Mouse state (canvas units for positions, pixels for the drag origin).
  IControl* mCapturedControl = nullptr;
  IControl* mMouseOverControl = nullptr;
  IMouseMod mCaptureMod;
  float mLastPx = 0.f;
  float mLastPy = 0.f;
  double mLastDownTime = -1e9;
  float mLastDownPx = -1e9f;
  float mLastDownPy = -1e9f;
  bool mLastDownWasDouble = false;
  bool mLastDownWasRight = false;

  IColor mBackgroundColor;
  bool mAllDirty = true;
  bool mDrawing = false;
  // A control's PathClipRegion is in force.
  bool mRegionClipped = false;
  IRECT mRegionClip;
  // The region being drawn, in window pixels, and the rectangle of the control drawing.
  IRECT mRegionPixels;
  IRECT mControlClip;
  struct OpenLayer
  {
    IRECT pixelBounds;
    // The PathClipRegion of what drew before the layer.
    bool regionClipped;
    IRECT regionClip;
    bool offscreen; // false: drawn straight onto the window
    unsigned standInsBefore; // mStandIns when it started
  };
  std::vector<OpenLayer> mOpenLayers;
  bool mLayersEnabled = true;

  // Stand-in faces (see TextMeasureGeneration). Measuring is const, hence mutable.
  IControl* mDrawingControl = nullptr;
  mutable bool mOverlayAwaitsFonts = false;  // a menu or text entry drew with them
  mutable bool mMeasureAwaitsFonts = false;  // measured outside drawing: by whom is unknown
  mutable unsigned mStandIns = 0;            // texts drawn or measured with them, ever
  unsigned mFontsSeen = 0;                   // the system fonts' generation as of this frame
  unsigned mTextMeasureGeneration = 0;

  std::unique_ptr<CairoBackend> mBackend;
  std::unique_ptr<PopupMenuView> mMenuView;
  std::unique_ptr<TextEntryView> mTextEntryView;
  struct PendingFileChoice
  {
    std::unique_ptr<FileChooserProcess> process;
    IFileDialogCompletionHandlerFunc completion;
  };
  std::vector<PendingFileChoice> mFileChoices;
};

// Makes the graphics context the editor draws with (Cairo on an image surface).
IGraphics* MakeGraphics(IEditorDelegate& dlg, int w, int h, int fps, float scale);

} // namespace iplug::igraphics
