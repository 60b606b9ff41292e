#pragma once

#include <memory>
#include <string>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

class IControl;
class IGraphics;

// A one-line text entry drawn inside the window over the control that opened it.
// Return commits, Escape cancels with no call, a press outside commits. The length
// limit counts characters (UTF-8 code points), not bytes; 0 or less means none.
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

  // Inserts typed text in place of the selection, as much of it as the limit lets in.
  void Insert(const std::string& typed);
  void EraseSelection();
  // The left edge of the text, scrolled so the caret stays inside the box.
  float TextLeft();
  float PrefixWidth(size_t bytes) const;
  size_t OffsetAt(float x);
  void Close();
  void Touch();

  IGraphics& mGraphics;
  std::unique_ptr<State> mState;
};

} // namespace iplug::igraphics
