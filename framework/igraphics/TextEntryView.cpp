#include "TextEntryView.h"

#include <algorithm>
#include <cmath>

#include "CairoBackend.h"
#include "IControl.h"
#include "IGraphics.h"

namespace iplug::igraphics
{

namespace
{

constexpr float kPadX = 3.f;
const IColor kSelection(150, 60, 110, 190);

bool IsContinuation(unsigned char c)
{
  return (c & 0xC0) == 0x80;
}

size_t NextBoundary(const std::string& s, size_t pos)
{
  if (pos >= s.size())
    return s.size();
  ++pos;
  while (pos < s.size() && IsContinuation(static_cast<unsigned char>(s[pos])))
    ++pos;
  return pos;
}

size_t PrevBoundary(const std::string& s, size_t pos)
{
  if (pos == 0)
    return 0;
  --pos;
  while (pos > 0 && IsContinuation(static_cast<unsigned char>(s[pos])))
    --pos;
  return pos;
}

size_t CountChars(const std::string& s)
{
  return static_cast<size_t>(
    std::count_if(s.begin(), s.end(), [](char c) { return !IsContinuation(static_cast<unsigned char>(c)); }));
}

// The first maxChars characters; everything for no limit.
std::string FirstChars(const std::string& s, int maxChars)
{
  if (maxChars <= 0)
    return s;
  size_t pos = 0;
  for (int n = 0; n < maxChars && pos < s.size(); ++n)
    pos = NextBoundary(s, pos);
  return s.substr(0, pos);
}

// Decodes one well-formed UTF-8 sequence at s[pos]: its length, 0 when malformed.
size_t DecodeUtf8(const std::string& s, size_t pos, char32_t& cp)
{
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  size_t len = 0;
  char32_t min = 0;
  if (b0 < 0x80)
  {
    cp = b0;
    return 1;
  }
  if ((b0 & 0xE0) == 0xC0)
  {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  }
  else if ((b0 & 0xF0) == 0xE0)
  {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  }
  else if ((b0 & 0xF8) == 0xF0)
  {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  }
  else
    return 0;
  if (pos + len > s.size())
    return 0;
  for (size_t i = 1; i < len; ++i)
  {
    if (!IsContinuation(byte(pos + i)))
      return 0;
    cp = (cp << 6) | (byte(pos + i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return len;
}

// Typed text without control characters (a pasted line break, a stray escape) and
// without malformed bytes.
std::string Printable(const std::string& typed)
{
  std::string out;
  for (size_t pos = 0; pos < typed.size();)
  {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(typed, pos, cp);
    if (len == 0)
    {
      ++pos;
      continue;
    }
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
    if (!control)
      out.append(typed, pos, len);
    pos += len;
  }
  return out;
}

} // namespace

struct TextEntryView::State
{
  bool open = false;
  IControl* control = nullptr;
  IText style;
  IRECT bounds;
  int valIdx = kNoValIdx;
  int maxChars = 0;
  std::string text;
  // Byte offsets at character boundaries; the selection runs between them.
  size_t caret = 0;
  size_t anchor = 0;
  // How far a text wider than the box is shifted left to show the caret.
  float scrollX = 0.f;
  IRECT dirty;
};

TextEntryView::TextEntryView(IGraphics& g) : mGraphics(g), mState(std::make_unique<State>()) {}

TextEntryView::~TextEntryView() = default;

void TextEntryView::Open(IControl& control, const IText& text, const IRECT& bounds, const char* str, int valIdx,
                         int maxChars)
{
  if (IsOpen())
    Cancel();
  State& st = *mState;
  st.open = true;
  st.control = &control;
  st.style = text;
  st.bounds = bounds;
  st.valIdx = valIdx;
  st.maxChars = maxChars;
  st.scrollX = 0.f;
  SetText(str);
}

bool TextEntryView::IsOpen() const
{
  return mState->open;
}

std::string TextEntryView::Text() const
{
  return mState->text;
}

const IRECT& TextEntryView::Bounds() const
{
  return mState->bounds;
}

void TextEntryView::SetText(const char* str)
{
  State& st = *mState;
  st.text = FirstChars(str ? str : "", st.maxChars);
  // All selected, so typing replaces it.
  st.anchor = 0;
  st.caret = st.text.size();
  Touch();
}

void TextEntryView::Commit()
{
  if (!IsOpen())
    return;
  IControl* control = mState->control;
  const std::string text = mState->text;
  const int valIdx = mState->valIdx;
  // Closed first: the control may open another entry or a menu from its completion.
  Close();
  if (control)
    control->OnTextEntryCompletion(text.c_str(), valIdx);
}

void TextEntryView::Cancel()
{
  if (IsOpen())
    Close();
}

void TextEntryView::Close()
{
  Touch();
  State& st = *mState;
  st.open = false;
  st.control = nullptr;
  st.text.clear();
  st.caret = st.anchor = 0;
}

bool TextEntryView::OnKey(const IKeyPress& key)
{
  if (!IsOpen())
    return false;
  State& st = *mState;
  const bool extend = key.mods.S;
  const auto moveTo = [&](size_t pos) {
    st.caret = pos;
    if (!extend)
      st.anchor = pos;
    Touch();
  };
  const bool hasSelection = st.caret != st.anchor;

  switch (key.vk)
  {
    case EVirtualKey::Return:
    case EVirtualKey::Tab:
      Commit();
      return true;
    case EVirtualKey::Escape:
      Cancel();
      return true;
    case EVirtualKey::Left:
      moveTo(hasSelection && !extend ? std::min(st.caret, st.anchor) : PrevBoundary(st.text, st.caret));
      return true;
    case EVirtualKey::Right:
      moveTo(hasSelection && !extend ? std::max(st.caret, st.anchor) : NextBoundary(st.text, st.caret));
      return true;
    case EVirtualKey::Home:
    case EVirtualKey::Up:
      moveTo(0);
      return true;
    case EVirtualKey::End:
    case EVirtualKey::Down:
      moveTo(st.text.size());
      return true;
    case EVirtualKey::Back:
      if (!hasSelection)
        st.anchor = PrevBoundary(st.text, st.caret);
      EraseSelection();
      return true;
    case EVirtualKey::Delete:
      if (!hasSelection)
        st.anchor = NextBoundary(st.text, st.caret);
      EraseSelection();
      return true;
    default:
      break;
  }
  if (key.utf8.empty())
    return true;
  if (key.mods.C && !key.mods.A)
  {
    // Control shortcuts type nothing; Ctrl+A selects everything.
    if (key.utf8 == "a" || key.utf8 == "A")
    {
      st.anchor = 0;
      st.caret = st.text.size();
      Touch();
    }
    return true;
  }
  Insert(key.utf8);
  return true;
}

void TextEntryView::EraseSelection()
{
  State& st = *mState;
  const size_t from = std::min(st.caret, st.anchor), to = std::max(st.caret, st.anchor);
  st.text.erase(from, to - from);
  st.caret = st.anchor = from;
  Touch();
}

void TextEntryView::Insert(const std::string& typed)
{
  State& st = *mState;
  std::string add = Printable(typed);
  if (add.empty())
    return;
  EraseSelection();
  if (st.maxChars > 0)
  {
    const size_t used = CountChars(st.text), limit = static_cast<size_t>(st.maxChars);
    if (used >= limit)
      return;
    add = FirstChars(add, static_cast<int>(limit - used));
  }
  st.text.insert(st.caret, add);
  st.caret += add.size();
  st.anchor = st.caret;
}

bool TextEntryView::OnMouseDown(float x, float y, const IMouseMod&)
{
  if (!IsOpen())
    return false;
  if (!mState->bounds.Contains(x, y))
  {
    Commit();
    return false;
  }
  mState->caret = mState->anchor = OffsetAt(x);
  Touch();
  return true;
}

float TextEntryView::PrefixWidth(size_t bytes) const
{
  if (bytes == 0)
    return 0.f;
  IRECT extent;
  return mGraphics.MeasureText(mState->style, mState->text.substr(0, bytes).c_str(), extent);
}

float TextEntryView::TextLeft()
{
  State& st = *mState;
  const float l = st.bounds.L + kPadX, r = st.bounds.R - kPadX;
  const float avail = std::max(0.f, r - l);
  const float full = PrefixWidth(st.text.size());
  if (full <= avail)
  {
    st.scrollX = 0.f;
    switch (st.style.mAlign)
    {
      case EAlign::Near: return l;
      case EAlign::Center: return 0.5f * (l + r - full);
      case EAlign::Far: return r - full;
    }
    return l;
  }
  const float caretX = PrefixWidth(st.caret);
  if (caretX - st.scrollX > avail)
    st.scrollX = caretX - avail;
  if (caretX < st.scrollX)
    st.scrollX = caretX;
  st.scrollX = std::clamp(st.scrollX, 0.f, full - avail);
  return l - st.scrollX;
}

size_t TextEntryView::OffsetAt(float x)
{
  const std::string& text = mState->text;
  const float left = TextLeft();
  size_t best = 0;
  float bestDist = std::fabs(x - left);
  for (size_t pos = NextBoundary(text, 0); pos <= text.size() && pos > 0; pos = NextBoundary(text, pos))
  {
    const float d = std::fabs(x - (left + PrefixWidth(pos)));
    if (d < bestDist)
    {
      bestDist = d;
      best = pos;
    }
    if (pos == text.size())
      break;
  }
  return best;
}

void TextEntryView::Touch()
{
  mState->dirty = mState->dirty.Union(mState->bounds);
}

IRECT TextEntryView::TakeDirtyArea()
{
  const IRECT area = mState->dirty;
  mState->dirty = IRECT();
  return area;
}

void TextEntryView::Draw(IGraphics& g)
{
  if (!IsOpen())
    return;
  State& st = *mState;
  const IRECT& b = st.bounds;
  g.FillRect(st.style.mTEBGColor, b);
  g.Backend().PushClip(b);
  const float left = TextLeft();
  const float full = PrefixWidth(st.text.size());
  const float lineH = std::min(b.H() - 4.f, std::max(1.f, st.style.mSize * 1.25f));
  const float top = b.MH() - 0.5f * lineH, bottom = b.MH() + 0.5f * lineH;
  if (st.caret != st.anchor)
  {
    const float a = left + PrefixWidth(std::min(st.caret, st.anchor));
    const float z = left + PrefixWidth(std::max(st.caret, st.anchor));
    g.FillRect(kSelection, IRECT(a, top, z, bottom));
  }
  IText style = st.style;
  style.mFGColor = st.style.mTEFGColor;
  style.mAlign = EAlign::Near;
  style.mAngle = 0.f;
  g.DrawText(style, st.text.c_str(), IRECT(left, b.T, std::max(b.R, left + full + 1.f), b.B));
  if (st.caret == st.anchor)
  {
    // On a whole pixel, so the caret stays sharp at any scale.
    const float s = g.GetTotalScale();
    const float x = std::round((left + PrefixWidth(st.caret)) * s) / s;
    g.FillRect(st.style.mTEFGColor, IRECT(x, top, x + 1.f, bottom));
  }
  g.Backend().PopClip();
  g.DrawRect(st.style.mTEFGColor.WithAlpha(60), b.GetPadded(-0.5f));
}

} // namespace iplug::igraphics
