#pragma once

#include <functional>
#include <string>
#include <vector>

#include "IGraphicsStructs.h"

namespace iplug
{
class IEditorDelegate;
class IParam;
}

namespace iplug::igraphics
{

class IGraphics;
class IPopupMenu;
class IControl;

using IActionFunction = std::function<void(IControl*)>;

// One element of the editor: a rectangle that draws itself and reacts to the mouse,
// optionally bound to one or more parameters (its value slots). Values are normalised
// 0..1. The graphics context owns attached controls; all of this runs on the UI thread.
class IControl
{
public:
  IControl(const IRECT& bounds, int paramIdx = kNoParameter, IActionFunction actionFunc = nullptr);
  // One value slot per parameter index.
  IControl(const IRECT& bounds, const std::vector<int>& params, IActionFunction actionFunc = nullptr);
  virtual ~IControl();
  IControl(const IControl&) = delete;
  IControl& operator=(const IControl&) = delete;

  // Mouse, in canvas units. The defaults do nothing but what is noted.
  virtual void OnMouseDown(float x, float y, const IMouseMod& mod);
  virtual void OnMouseUp(float x, float y, const IMouseMod& mod);
  virtual void OnMouseDrag(float x, float y, float dX, float dY, const IMouseMod& mod);
  // Default: every bound value back to its parameter's default, sent to the plug-in.
  virtual void OnMouseDblClick(float x, float y, const IMouseMod& mod);
  // d: +1 per notch up, -1 per notch down.
  virtual void OnMouseWheel(float x, float y, const IMouseMod& mod, float d);
  // Default: sets mMouseIsOver and redraws when it changed.
  virtual void OnMouseOver(float x, float y, const IMouseMod& mod);
  virtual void OnMouseOut();

  // The rectangle changed (SetRECT, a layout).
  virtual void OnResize() {}
  // Called once the control is attached to a graphics context.
  virtual void OnAttached() {}

  virtual void Draw(IGraphics& g) = 0;

  // Replaces mText and redraws.
  virtual void SetText(const IText& txt);

  // Default: mTargetRECT contains the point (half-open).
  virtual bool IsHit(float x, float y) const;
  // Asked on every frame; the default answers the dirty flag.
  virtual bool IsDirty();

  // A choice from a popup menu this control opened: the (sub)menu holding the chosen
  // item, or nullptr when the menu was dismissed.
  virtual void OnPopupMenuSelection(IPopupMenu* pSelectedMenu, int valIdx);
  // Text committed in an entry this control opened. The default, for a bound value
  // slot, parses the text with the parameter and sends the value.
  virtual void OnTextEntryCompletion(const char* str, int valIdx);
  // Data from the delegate for this control's tag (meter senders).
  virtual void OnMsgFromDelegate(int msgTag, int dataSize, const void* pData);
  // The plug-in's value of a bound parameter changed (host automation, a restore).
  virtual void SetValueFromDelegate(double value, int valIdx = 0);

  // Value slots.
  int NVals() const { return static_cast<int>(mVals.size()); }
  int GetParamIdx(int valIdx = 0) const;
  void SetParamIdx(int paramIdx, int valIdx = 0);
  // The parameter bound to a slot, nullptr when none (or not attached).
  const IParam* GetParam(int valIdx = 0) const;
  // The slot bound to paramIdx, or kNoValIdx.
  int LinkedToParam(int paramIdx) const;
  double GetValue(int valIdx = 0) const;
  // Clamped to 0..1; does not send anything (SetDirty with an action does).
  void SetValue(double value, int valIdx = 0);
  // valIdx kNoValIdx: every slot.
  void SetValueToDefault(int valIdx = kNoValIdx);

  // Marks the control for redrawing. With triggerAction, the bound value slot (or every
  // bound slot for kNoValIdx) is sent to the plug-in and the action function runs.
  virtual void SetDirty(bool triggerAction = true, int valIdx = kNoValIdx);
  // The frame loop clears the flag once the control is drawn.
  void SetClean() { mDirty = false; }

  const IRECT& GetRECT() const { return mRECT; }
  const IRECT& GetTargetRECT() const { return mTargetRECT; }
  // Sets the drawn rectangle (and redraws); OnResize is the caller's to run.
  void SetRECT(const IRECT& bounds);
  void SetTargetRECT(const IRECT& bounds) { mTargetRECT = bounds; }
  void SetTargetAndDrawRECTs(const IRECT& bounds);

  int GetTag() const { return mTag; }
  void SetTag(int tag) { mTag = tag; }

  bool IsHidden() const { return mHide; }
  void Hide(bool hide);
  bool GetIgnoreMouse() const { return mIgnoreMouse; }
  void SetIgnoreMouse(bool ignore) { mIgnoreMouse = ignore; }
  bool IsDisabled() const { return mDisabled; }
  void SetDisabled(bool disabled);

  // Double clicks arrive as a second OnMouseDown instead of OnMouseDblClick.
  void SetDblAsSingleClick(bool single) { mDblAsSingleClick = single; }
  bool GetDblAsSingleClick() const { return mDblAsSingleClick; }

  // Characters a text entry opened by this control accepts.
  void SetTextEntryLength(int length) { mTextEntryLength = length; }
  int GetTextEntryLength() const { return mTextEntryLength; }

  // Stored only: tooltips are not shown.
  void SetTooltip(const char* str) { mTooltip = str ? str : ""; }
  const char* GetTooltip() const { return mTooltip.c_str(); }

  void SetActionFunction(IActionFunction actionFunc) { mActionFunc = std::move(actionFunc); }

  const IBlend& GetBlend() const { return mBlend; }
  const IText& GetText() const { return mText; }

  bool GetMouseIsOver() const { return mMouseIsOver; }

  // The graphics context and its delegate; nullptr until attached.
  IGraphics* GetUI() const { return mGraphics; }
  IEditorDelegate* GetDelegate() const;

  // Called by IGraphics when attaching.
  void SetGraphics(IGraphics* g) { mGraphics = g; }

protected:
  IRECT mRECT;
  IRECT mTargetRECT;
  IText mText;
  IBlend mBlend;
  bool mMouseIsOver = false;
  bool mDirty = true;
  IActionFunction mActionFunc;

private:
  friend class IGraphics;

  struct ValueSlot
  {
    int paramIdx = kNoParameter;
    double value = 0.;
  };

  IGraphics* mGraphics = nullptr;
  std::vector<ValueSlot> mVals;
  int mTag = kNoTag;
  bool mHide = false;
  bool mIgnoreMouse = false;
  bool mDisabled = false;
  bool mDblAsSingleClick = false;
  int mTextEntryLength = 16;
  std::string mTooltip;
  // Where the last frame drew it (repainted when it moves or hides).
  IRECT mDrawnRECT;
  // It drew text with stand-in faces: it draws again when the system fonts arrive.
  bool mAwaitsFonts = false;
};

} // namespace iplug::igraphics
