#pragma once

#include <string>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

class IControl;
class IGraphics;

// A one-line text entry drawn inside the window over the control that opened it.
// Return commits, Escape cancels with no call, a press outside commits. The length
// limit counts characters (UTF-8 code points), not bytes.
class TextEntryView
{
public:
  explicit TextEntryView(IGraphics& g);
  ~TextEntryView();

  void Open(IControl& control, const IText& text, const IRECT& bounds, const char* str, int valIdx, int maxChars);
  bool IsOpen() const;
  std::string Text() const;
  const IRECT& Bounds() const;
  // Replaces the text, cut to the limit.
  void SetText(const char* str);
  // Closes and hands the text to the control.
  void Commit();
  // Closes with no call.
  void Cancel();

  bool OnKey(const IKeyPress& key);
  // Inside: moves the caret (true). Outside: commits and answers false, so the press goes on.
  bool OnMouseDown(float x, float y, const IMouseMod& mod);

  // The area to repaint since the last call, degenerate for none.
  IRECT TakeDirtyArea();
  void Draw(IGraphics& g);

private:
  struct State;
  IGraphics& mGraphics;
  State* mState;
};

} // namespace iplug::igraphics
