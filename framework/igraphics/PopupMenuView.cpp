// Placeholder until the in-window menu lands: opens nothing.
#include "PopupMenuView.h"

#include "IControl.h"
#include "IGraphics.h"

namespace iplug::igraphics
{

struct PopupMenuView::State
{
};

PopupMenuView::PopupMenuView(IGraphics& g) : mGraphics(g), mState(nullptr) {}
PopupMenuView::~PopupMenuView() = default;
void PopupMenuView::Open(IControl& receiver, IPopupMenu&, const IRECT&, int valIdx) { receiver.OnPopupMenuSelection(nullptr, valIdx); }
bool PopupMenuView::IsOpen() const { return false; }
IPopupMenu* PopupMenuView::Menu() const { return nullptr; }
bool PopupMenuView::Choose(const std::vector<int>&) { return false; }
void PopupMenuView::Close(bool) {}
void PopupMenuView::OnMouseDown(float, float, const IMouseMod&) {}
void PopupMenuView::OnMouseUp(float, float, const IMouseMod&) {}
void PopupMenuView::OnMouseMove(float, float, const IMouseMod&) {}
void PopupMenuView::OnMouseWheel(float, float, float) {}
bool PopupMenuView::OnKey(const IKeyPress&) { return false; }
IRECT PopupMenuView::TakeDirtyArea() { return IRECT(); }
IRECT PopupMenuView::Bounds() const { return IRECT(); }
void PopupMenuView::Draw(IGraphics&) {}

} // namespace iplug::igraphics
