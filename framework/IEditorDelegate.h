#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "IParam.h"
#include "MessageBox.h"
#include "IPlugConstants.h"

namespace iplug
{
namespace igraphics
{
class IGraphics;
}

// The side of the plug-in that the editor talks to: the parameter list, the
// editor size and the calls that carry values between the editor and the plug-in.
// Everything here runs on the UI thread.
class IEditorDelegate
{
public:
  explicit IEditorDelegate(int nParams);
  virtual ~IEditorDelegate();
  IEditorDelegate(const IEditorDelegate&) = delete;
  IEditorDelegate& operator=(const IEditorDelegate&) = delete;

  int NParams() const { return static_cast<int>(mParams.size()); }
  // nullptr for an index out of range.
  IParam* GetParam(int paramIdx);
  const IParam* GetParam(int paramIdx) const;
  // Raised (and wrapping) whenever a parameter's value changes, from any thread: values read
  // after seeing a count are at least as new as the change that made it.
  uint32_t ParamChangeCount() const { return mParamChanges.load(std::memory_order_acquire); }

  // The open editor's graphics context, or nullptr while no editor is open.
  igraphics::IGraphics* GetUI() const { return mGraphics; }
  // The editor view (or a headless harness) that owns the graphics context sets it
  // after making it and clears it before destroying it; clearing it drops the answers of
  // open message boxes.
  void SetGraphics(igraphics::IGraphics* graphics);

  // A message box or question of this instance, shown only while the editor is open; the
  // call returns at once and a question's answer reaches completion from a later
  // PollMessageBoxes (the editor's frames). See MessageBoxes.
  void ShowMessageBox(const std::string& text, const std::string& title, EMsgBoxType type,
                      MessageBoxCompletion completion = nullptr);
  void PollMessageBoxes() { mMessageBoxes.Poll(); }

  // A parameter value was set from the editor (normalised). Sets the parameter,
  // tells the plug-in (OnParamChange with kUI) and informs the host.
  virtual void SendParameterValueFromUI(int paramIdx, double normalizedValue);
  virtual void BeginInformHostOfParamChangeFromUI(int paramIdx);
  virtual void EndInformHostOfParamChangeFromUI(int paramIdx);

  // Delegate -> editor: data for the control with ctrlTag (meter senders use this).
  virtual void SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* data);
  // Delegate -> editor: every parameter's current value to the controls bound to it.
  virtual void SendCurrentParamValuesFromDelegate();
  // Delegate -> editor: one parameter's current value.
  void SendParameterValueFromDelegate(int paramIdx);

  // The editor changed its own size (a scale from the menu or the corner grip): the
  // window is now width x height pixels. With needsPlatformResize the host is asked
  // for that size.
  virtual void EditorResizeFromUI(int width, int height, bool needsPlatformResize);
  // A right press on a control bound to paramIdx: the host's menu for that parameter,
  // at (x, y) in window pixels.
  virtual void PopupHostContextMenuForParam(int paramIdx, float x, float y) { (void)paramIdx; (void)x; (void)y; }

  // Called on the UI thread after a parameter changed, wherever the change came from.
  virtual void OnParamChangeUI(int paramIdx, EParamSource source) { (void)paramIdx; (void)source; }

  // Editor sizing: replace width/height by the nearest allowed size; true when the
  // request was allowed unchanged. The default allows any size.
  virtual bool ConstrainEditorResize(int& width, int& height) const { (void)width; (void)height; return true; }
  // The host's window has a new size.
  virtual void OnParentWindowResize(int width, int height) { mEditorWidth = width; mEditorHeight = height; }
  // The host's screen scale (window pixels per canvas unit at draw scale 1) is now scale.
  // An open editor's graphics already has it; a closed editor's kept size may follow.
  virtual void OnHostScreenScale(float scale) { (void)scale; }

  int GetEditorWidth() const { return mEditorWidth; }
  int GetEditorHeight() const { return mEditorHeight; }

  // Editor hooks the plug-in installs; the editor layer calls them when it opens.
  std::function<igraphics::IGraphics*()> mMakeGraphicsFunc;
  std::function<void(igraphics::IGraphics*)> mLayoutFunc;

  // Host side of the value calls; the VST3 wrapper forwards these to its component handler.
  virtual void BeginInformHostOfParamChange(int paramIdx) { (void)paramIdx; }
  virtual void InformHostOfParamChange(int paramIdx, double normalizedValue) { (void)paramIdx; (void)normalizedValue; }
  virtual void EndInformHostOfParamChange(int paramIdx) { (void)paramIdx; }

protected:
  int mEditorWidth = 0;
  int mEditorHeight = 0;
  igraphics::IGraphics* mGraphics = nullptr;

private:
  MessageBoxes mMessageBoxes;
  std::atomic<uint32_t> mParamChanges{0};
  std::vector<std::unique_ptr<IParam>> mParams;
};

} // namespace iplug
