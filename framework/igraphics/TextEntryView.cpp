// Placeholder until the in-window text entry lands: opens nothing.
#include "TextEntryView.h"

#include "IGraphics.h"

namespace iplug::igraphics
{

struct TextEntryView::State
{
};

TextEntryView::TextEntryView(IGraphics& g) : mGraphics(g), mState(nullptr) {}
TextEntryView::~TextEntryView() = default;
void TextEntryView::Open(IControl&, const IText&, const IRECT&, const char*, int, int) {}
bool TextEntryView::IsOpen() const { return false; }
std::string TextEntryView::Text() const { return {}; }
const IRECT& TextEntryView::Bounds() const { static const IRECT none; return none; }
void TextEntryView::SetText(const char*) {}
void TextEntryView::Commit() {}
void TextEntryView::Cancel() {}
bool TextEntryView::OnKey(const IKeyPress&) { return false; }
bool TextEntryView::OnMouseDown(float, float, const IMouseMod&) { return false; }
IRECT TextEntryView::TakeDirtyArea() { return IRECT(); }
void TextEntryView::Draw(IGraphics&) {}

} // namespace iplug::igraphics
