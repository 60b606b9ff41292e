#pragma once

#include <memory>
#include <vector>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

class IControl;
class IGraphics;
class IPopupMenu;

// An open popup menu drawn inside the window, over the controls. While it is open it
// takes every mouse event and the keys it uses (arrows, Return, Escape); a press outside
// it dismisses it. Submenus open beside their item on hover. Only a press and release on
// the same item inside the menu chooses. Positions are canvas units.
class PopupMenuView
{
public:
  explicit PopupMenuView(IGraphics& g);
  ~PopupMenuView();

  void Open(IControl& receiver, IPopupMenu& menu, const IRECT& anchor, int valIdx);
  bool IsOpen() const;
  IPopupMenu* Menu() const;
  // Chooses by positions (see IGraphics::ChooseFromOpenMenu); false when not choosable.
  bool Choose(const std::vector<int>& path);
  // Closes; with notify the receiver hears OnPopupMenuSelection(nullptr, valIdx).
  void Close(bool notify);

  void OnMouseDown(float x, float y, const IMouseMod& mod);
  void OnMouseUp(float x, float y, const IMouseMod& mod);
  void OnMouseMove(float x, float y, const IMouseMod& mod);
  void OnMouseWheel(float x, float y, float d);
  bool OnKey(const IKeyPress& key);

  // The area to repaint since the last call (the old and new extent), degenerate for none.
  IRECT TakeDirtyArea();
  // The whole area the open menu covers.
  IRECT Bounds() const;
  // The faces of its texts changed: each open level takes the width its texts now need,
  // staying where it is unless that leaves the canvas.
  void Remeasure();
  void Draw(IGraphics& g);

private:
  struct Level;
  struct State;

  Level MakeLevel(IPopupMenu& menu) const;
  void PlaceRoot(Level& level, const IRECT& anchor) const;
  void OpenSubmenu(int levelIdx, int itemIdx);
  void CloseLevelsAfter(int levelIdx);
  // The deepest open level holding the point, -1 for none.
  int LevelAt(float x, float y) const;
  void Hover(float x, float y);
  void SetHover(int levelIdx, int itemIdx);
  void MoveHover(int step);
  void Deliver(IPopupMenu& holder, int itemIdx);
  void Touch(const IRECT& area);
  void DrawLevel(IGraphics& g, const Level& level, bool hasChildOpen, int openChildItem) const;

  IGraphics& mGraphics;
  std::unique_ptr<State> mState;
};

} // namespace iplug::igraphics
