#include "PopupMenuView.h"

#include <algorithm>
#include <cmath>

#include "CairoBackend.h"
#include "IControl.h"
#include "IGraphics.h"
#include "IPopupMenu.h"

namespace iplug::igraphics
{

namespace
{

constexpr float kItemH = 20.f;
constexpr float kSeparatorH = 9.f;
constexpr float kPadY = 4.f;
constexpr float kCheckColumn = 22.f; // text starts after the check mark's column
constexpr float kArrowColumn = 20.f; // room for the submenu arrow on the right
constexpr float kMinWidth = 96.f;
constexpr float kWheelStep = 2.f * kItemH;
constexpr float kScrollMarkH = 10.f;

const IColor kFill(255, 30, 30, 30);
const IColor kOutline(60, 250, 250, 250);
const IColor kTextColor(255, 250, 250, 250);
const IColor kDimText(90, 250, 250, 250);
const IColor kHoverFill(40, 250, 250, 250);
const IColor kSeparatorColor(45, 250, 250, 250);

IText ItemStyle(const IColor& color)
{
  return IText(12.f, color, "Roboto-Regular", EAlign::Near, EVAlign::Middle);
}

bool Selectable(const IPopupMenu::Item& item)
{
  return item.GetEnabled() && !item.GetIsSeparator() && !item.GetIsTitle();
}

bool OpensSubmenu(const IPopupMenu::Item& item)
{
  return Selectable(item) && item.GetSubmenu() && item.GetSubmenu()->NItems() > 0;
}

bool Finite(const IRECT& r)
{
  return std::isfinite(r.L) && std::isfinite(r.T) && std::isfinite(r.R) && std::isfinite(r.B);
}

void ForgetChoices(IPopupMenu& menu)
{
  menu.SetChosenItemIdx(-1);
  for (int i = 0; i < menu.NItems(); ++i)
    if (IPopupMenu* sub = menu.GetItem(i)->GetSubmenu())
      ForgetChoices(*sub);
}

} // namespace

struct PopupMenuView::Level
{
  IPopupMenu* menu = nullptr;
  IRECT bounds;              // the visible box on the canvas
  std::vector<float> tops;   // each item's top from the content's top, padding included
  std::vector<float> heights;
  float contentH = 0.f;
  float scroll = 0.f;        // content hidden above the box
  int hover = -1;
  int parentItem = -1;       // the item of the level before that opened this one

  float MaxScroll() const { return std::max(0.f, contentH - bounds.H()); }
  // The rows laid out at opening; a menu changed while open shows no more than those.
  int NRows() const { return std::min(menu->NItems(), static_cast<int>(tops.size())); }

  IRECT ItemRect(int i) const
  {
    const float top = bounds.T + tops[static_cast<size_t>(i)] - scroll;
    return IRECT(bounds.L, top, bounds.R, top + heights[static_cast<size_t>(i)]);
  }

  // -1 on the padding, outside, or on a part scrolled out of view.
  int ItemAt(float x, float y) const
  {
    if (!bounds.Contains(x, y))
      return -1;
    for (int i = 0; i < NRows(); ++i)
      if (ItemRect(i).Contains(x, y))
        return i;
    return -1;
  }
};

struct PopupMenuView::State
{
  IControl* receiver = nullptr;
  int valIdx = kNoValIdx;
  std::vector<Level> levels;
  // The press made inside the menu; only its own release on the same item chooses.
  int pressLevel = -1;
  int pressItem = -1;
  IRECT dirty;
};

PopupMenuView::PopupMenuView(IGraphics& g) : mGraphics(g), mState(std::make_unique<State>()) {}

PopupMenuView::~PopupMenuView() = default;

void PopupMenuView::Open(IControl& receiver, IPopupMenu& menu, const IRECT& anchor, int valIdx)
{
  if (IsOpen())
    Close(true);
  if (IsOpen()) // the previous receiver opened another menu from its dismissal
    Close(false);

  ForgetChoices(menu);
  State& st = *mState;
  st.receiver = &receiver;
  st.valIdx = valIdx;
  st.pressLevel = st.pressItem = -1;
  Level root = MakeLevel(menu);
  PlaceRoot(root, Finite(anchor) ? anchor : IRECT());
  Touch(root.bounds);
  st.levels.push_back(std::move(root));
}

bool PopupMenuView::IsOpen() const
{
  return !mState->levels.empty();
}

IPopupMenu* PopupMenuView::Menu() const
{
  return IsOpen() ? mState->levels.front().menu : nullptr;
}

bool PopupMenuView::Choose(const std::vector<int>& path)
{
  if (!IsOpen() || path.empty())
    return false;
  IPopupMenu* menu = mState->levels.front().menu;
  for (size_t step = 0; step + 1 < path.size(); ++step)
  {
    const IPopupMenu::Item* item = menu->GetItem(path[step]);
    if (!item || !item->GetSubmenu() || !Selectable(*item))
      return false;
    menu = item->GetSubmenu();
  }
  const IPopupMenu::Item* item = menu->GetItem(path.back());
  if (!item || !item->GetChoosable())
    return false;
  Deliver(*menu, path.back());
  return true;
}

void PopupMenuView::Close(bool notify)
{
  if (!IsOpen())
    return;
  State& st = *mState;
  IControl* receiver = st.receiver;
  const int valIdx = st.valIdx;
  Touch(Bounds());
  st.levels.clear();
  st.receiver = nullptr;
  st.pressLevel = st.pressItem = -1;
  // Last: the receiver may open another menu from here.
  if (notify && receiver)
    receiver->OnPopupMenuSelection(nullptr, valIdx);
}

void PopupMenuView::Deliver(IPopupMenu& holder, int itemIdx)
{
  IControl* receiver = mState->receiver;
  const int valIdx = mState->valIdx;
  // Closed before the call, so the receiver may open a menu or a text entry from it.
  Close(false);
  holder.SetChosenItemIdx(itemIdx);
  if (receiver)
    receiver->OnPopupMenuSelection(&holder, valIdx);
}

// Mouse

void PopupMenuView::OnMouseDown(float x, float y, const IMouseMod&)
{
  if (!IsOpen())
    return;
  if (LevelAt(x, y) < 0)
  {
    Close(true);
    return;
  }
  Hover(x, y);
  const int k = LevelAt(x, y);
  mState->pressLevel = k;
  mState->pressItem = k >= 0 ? mState->levels[static_cast<size_t>(k)].ItemAt(x, y) : -1;
}

void PopupMenuView::OnMouseUp(float x, float y, const IMouseMod&)
{
  if (!IsOpen())
    return;
  State& st = *mState;
  const int pressLevel = st.pressLevel, pressItem = st.pressItem;
  st.pressLevel = st.pressItem = -1;
  if (pressItem < 0)
    return; // the release of the press that opened the menu, or of one on the padding
  const int k = LevelAt(x, y);
  if (k != pressLevel)
    return;
  Level& level = st.levels[static_cast<size_t>(k)];
  if (level.ItemAt(x, y) != pressItem)
    return;
  const IPopupMenu::Item* item = level.menu->GetItem(pressItem);
  if (item && item->GetChoosable())
    Deliver(*level.menu, pressItem);
}

void PopupMenuView::OnMouseMove(float x, float y, const IMouseMod&)
{
  if (IsOpen())
    Hover(x, y);
}

void PopupMenuView::OnMouseWheel(float x, float y, float d)
{
  if (!IsOpen() || !std::isfinite(d))
    return;
  int k = LevelAt(x, y);
  if (k < 0)
    k = static_cast<int>(mState->levels.size()) - 1;
  Level& level = mState->levels[static_cast<size_t>(k)];
  if (level.MaxScroll() <= 0.f)
    return;
  // Wheel up (+1) shows what lies above.
  const float scroll = std::clamp(level.scroll - (d > 0.f ? kWheelStep : d < 0.f ? -kWheelStep : 0.f), 0.f,
                                  level.MaxScroll());
  if (scroll == level.scroll)
    return;
  level.scroll = scroll;
  Touch(level.bounds);
  // Submenus hang beside items that have moved.
  CloseLevelsAfter(k);
  level.hover = -1;
  Hover(x, y);
}

bool PopupMenuView::OnKey(const IKeyPress& key)
{
  if (!IsOpen())
    return false;
  State& st = *mState;
  switch (key.vk)
  {
    case EVirtualKey::Escape:
      Close(true);
      return true;
    case EVirtualKey::Up:
      MoveHover(-1);
      return true;
    case EVirtualKey::Down:
      MoveHover(+1);
      return true;
    case EVirtualKey::Left:
      if (st.levels.size() > 1)
        CloseLevelsAfter(static_cast<int>(st.levels.size()) - 2);
      return true;
    case EVirtualKey::Right:
    case EVirtualKey::Return:
    {
      const int k = static_cast<int>(st.levels.size()) - 1;
      Level& level = st.levels.back();
      const IPopupMenu::Item* item = level.menu->GetItem(level.hover);
      if (!item)
        return true;
      if (OpensSubmenu(*item))
      {
        OpenSubmenu(k, level.hover);
        MoveHover(+1);
      }
      else if (key.vk == EVirtualKey::Return && item->GetChoosable())
        Deliver(*level.menu, level.hover);
      return true;
    }
    default:
      return false;
  }
}

// Levels

PopupMenuView::Level PopupMenuView::MakeLevel(IPopupMenu& menu) const
{
  Level level;
  level.menu = &menu;
  float y = kPadY, textW = 0.f;
  for (int i = 0; i < menu.NItems(); ++i)
  {
    const IPopupMenu::Item& item = *menu.GetItem(i);
    const float h = item.GetIsSeparator() ? kSeparatorH : kItemH;
    level.tops.push_back(y);
    level.heights.push_back(h);
    y += h;
    if (!item.GetIsSeparator())
    {
      IRECT extent;
      textW = std::max(textW, mGraphics.MeasureText(ItemStyle(kTextColor), item.GetText(), extent));
    }
  }
  level.contentH = y + kPadY;
  const float canvasW = static_cast<float>(mGraphics.Width()), canvasH = static_cast<float>(mGraphics.Height());
  const float w = std::min(canvasW, std::max(kMinWidth, std::ceil(kCheckColumn + textW + kArrowColumn)));
  level.bounds = IRECT(0.f, 0.f, w, std::min(level.contentH, canvasH));
  return level;
}

void PopupMenuView::PlaceRoot(Level& level, const IRECT& anchor) const
{
  const float canvasW = static_cast<float>(mGraphics.Width()), canvasH = static_cast<float>(mGraphics.Height());
  const float w = level.bounds.W(), h = level.bounds.H();
  float x = std::max(0.f, std::min(anchor.L, canvasW - w));
  float y = anchor.B;
  if (y + h > canvasH)
    y = anchor.T - h >= 0.f ? anchor.T - h : canvasH - h;
  y = std::max(0.f, y);
  // Whole units keep the edges crisp at integer scales.
  x = std::floor(x);
  y = std::floor(y);
  level.bounds = IRECT(x, y, x + w, y + h);
}

void PopupMenuView::Remeasure()
{
  const float canvasW = static_cast<float>(mGraphics.Width());
  for (Level& level : mState->levels)
  {
    const float w = MakeLevel(*level.menu).bounds.W();
    if (w == level.bounds.W())
      continue;
    Touch(level.bounds);
    const float x = std::floor(std::max(0.f, std::min(level.bounds.L, canvasW - w)));
    level.bounds = IRECT(x, level.bounds.T, x + w, level.bounds.B);
    Touch(level.bounds);
  }
}

void PopupMenuView::OpenSubmenu(int levelIdx, int itemIdx)
{
  State& st = *mState;
  CloseLevelsAfter(levelIdx);
  const Level& parent = st.levels[static_cast<size_t>(levelIdx)];
  IPopupMenu* sub = parent.menu->GetItem(itemIdx)->GetSubmenu();
  ForgetChoices(*sub);
  Level level = MakeLevel(*sub);
  level.parentItem = itemIdx;

  const float canvasW = static_cast<float>(mGraphics.Width()), canvasH = static_cast<float>(mGraphics.Height());
  const float w = level.bounds.W(), h = level.bounds.H();
  const IRECT item = parent.ItemRect(itemIdx);
  // Beside the item, its first entry level with it; to the left when the right has no room.
  float x = parent.bounds.R - 1.f;
  if (x + w > canvasW)
    x = parent.bounds.L - w + 1.f >= 0.f ? parent.bounds.L - w + 1.f : canvasW - w;
  x = std::max(0.f, x);
  float y = std::max(0.f, std::min(item.T - kPadY, canvasH - h));
  x = std::floor(x);
  y = std::floor(y);
  level.bounds = IRECT(x, y, x + w, y + h);
  Touch(level.bounds);
  Touch(parent.bounds);
  st.levels.push_back(std::move(level));
}

void PopupMenuView::CloseLevelsAfter(int levelIdx)
{
  auto& levels = mState->levels;
  while (static_cast<int>(levels.size()) > levelIdx + 1)
  {
    Touch(levels.back().bounds);
    levels.pop_back();
  }
  if (mState->pressLevel > levelIdx)
    mState->pressLevel = mState->pressItem = -1;
}

int PopupMenuView::LevelAt(float x, float y) const
{
  const auto& levels = mState->levels;
  for (int k = static_cast<int>(levels.size()) - 1; k >= 0; --k)
    if (levels[static_cast<size_t>(k)].bounds.Contains(x, y))
      return k;
  return -1;
}

void PopupMenuView::Hover(float x, float y)
{
  auto& levels = mState->levels;
  const int k = LevelAt(x, y);
  if (k < 0)
  {
    // Off the menus: the deepest level forgets its hover; the path to it stays lit.
    SetHover(static_cast<int>(levels.size()) - 1, -1);
    return;
  }
  const int i = levels[static_cast<size_t>(k)].ItemAt(x, y);
  const bool onOpenParent = static_cast<int>(levels.size()) > k + 1 && i >= 0 &&
                            levels[static_cast<size_t>(k) + 1].parentItem == i;
  if (!onOpenParent)
    CloseLevelsAfter(k);
  SetHover(k, i);
  const IPopupMenu::Item* item = levels[static_cast<size_t>(k)].menu->GetItem(i);
  if (!onOpenParent && item && OpensSubmenu(*item))
    OpenSubmenu(k, i);
}

void PopupMenuView::SetHover(int levelIdx, int itemIdx)
{
  Level& level = mState->levels[static_cast<size_t>(levelIdx)];
  if (level.hover == itemIdx)
    return;
  level.hover = itemIdx;
  Touch(level.bounds);
}

void PopupMenuView::MoveHover(int step)
{
  Level& level = mState->levels.back();
  const int n = level.NRows();
  int i = level.hover;
  for (int tries = 0; tries < n; ++tries)
  {
    i = i < 0 ? (step > 0 ? 0 : n - 1) : (i + step + n) % n;
    if (Selectable(*level.menu->GetItem(i)))
      break;
  }
  if (i < 0 || i >= n || !Selectable(*level.menu->GetItem(i)))
    return;
  // Keep the item in view in a scrolled menu.
  const IRECT r = level.ItemRect(i);
  if (r.T < level.bounds.T)
    level.scroll -= level.bounds.T - r.T;
  else if (r.B > level.bounds.B)
    level.scroll += r.B - level.bounds.B;
  level.scroll = std::clamp(level.scroll, 0.f, level.MaxScroll());
  Touch(level.bounds);
  level.hover = i;
}

void PopupMenuView::Touch(const IRECT& area)
{
  mState->dirty = mState->dirty.Union(area);
}

IRECT PopupMenuView::TakeDirtyArea()
{
  const IRECT area = mState->dirty;
  mState->dirty = IRECT();
  return area;
}

IRECT PopupMenuView::Bounds() const
{
  IRECT all;
  for (const Level& level : mState->levels)
    all = all.Union(level.bounds);
  return all;
}

// Drawing

void PopupMenuView::Draw(IGraphics& g)
{
  const auto& levels = mState->levels;
  for (size_t k = 0; k < levels.size(); ++k)
  {
    const bool hasChild = k + 1 < levels.size();
    DrawLevel(g, levels[k], hasChild, hasChild ? levels[k + 1].parentItem : -1);
  }
}

void PopupMenuView::DrawLevel(IGraphics& g, const Level& level, bool hasChildOpen, int openChildItem) const
{
  const IRECT& b = level.bounds;
  g.FillRect(kFill, b);
  g.Backend().PushClip(b);
  for (int i = 0; i < level.NRows(); ++i)
  {
    const IRECT r = level.ItemRect(i);
    if (!r.Intersects(b))
      continue;
    const IPopupMenu::Item& item = *level.menu->GetItem(i);
    if (item.GetIsSeparator())
    {
      const float y = std::floor(r.MH());
      g.FillRect(kSeparatorColor, IRECT(b.L + 6.f, y, b.R - 6.f, y + 1.f));
      continue;
    }
    const bool lit = (i == level.hover || (hasChildOpen && i == openChildItem)) && Selectable(item);
    if (lit)
      g.FillRect(kHoverFill, IRECT(b.L + 1.f, r.T, b.R - 1.f, r.B));
    const IColor& color = Selectable(item) ? kTextColor : kDimText;
    if (item.GetChecked())
    {
      g.PathClear();
      g.PathMoveTo(b.L + 7.f, r.MH());
      g.PathLineTo(b.L + 10.f, r.MH() + 3.5f);
      g.PathLineTo(b.L + 16.f, r.MH() - 4.f);
      IStrokeOptions stroke;
      stroke.mCapOption = ELineCap::Round;
      stroke.mJoinOption = ELineJoin::Round;
      g.PathStroke(IPattern(color), 1.6f, stroke);
    }
    g.DrawText(ItemStyle(color), item.GetText(), IRECT(b.L + kCheckColumn, r.T, b.R - kArrowColumn + 4.f, r.B));
    if (item.GetSubmenu())
      g.FillTriangle(color, b.R - 13.f, r.MH() - 4.f, b.R - 13.f, r.MH() + 4.f, b.R - 8.f, r.MH());
  }
  // Marks where a scrolled menu has more to show.
  if (level.scroll > 0.f)
  {
    g.FillRect(kFill, IRECT(b.L, b.T, b.R, b.T + kScrollMarkH));
    g.FillTriangle(kDimText, b.MW() - 4.f, b.T + 7.f, b.MW() + 4.f, b.T + 7.f, b.MW(), b.T + 3.f);
  }
  if (level.scroll < level.MaxScroll())
  {
    g.FillRect(kFill, IRECT(b.L, b.B - kScrollMarkH, b.R, b.B));
    g.FillTriangle(kDimText, b.MW() - 4.f, b.B - 7.f, b.MW() + 4.f, b.B - 7.f, b.MW(), b.B - 3.f);
  }
  g.Backend().PopClip();
  g.DrawRect(kOutline, b.GetPadded(-0.5f), nullptr, 1.f);
}

} // namespace iplug::igraphics
