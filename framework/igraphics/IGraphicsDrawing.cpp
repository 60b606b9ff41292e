// The drawing calls of IGraphics, on the back end's cairo context (already scaled to
// canvas units), plus fonts and SVG from the embedded resources.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CairoBackend.h"
#include "IGraphics.h"
#include "SvgDocument.h"

namespace iplug::igraphics
{

namespace
{

constexpr double kPi = 3.14159265358979323846;
// Cairo's fixed-point coordinates wrap around past a few million pixels, so anything
// this far out draws nothing instead of something wrong.
constexpr float kMaxCoord = 1e6f;
// Text larger than this is a mistake; its glyphs would take the UI thread a long time.
constexpr float kMaxTextSize = 1000.f;
// A dotted line of more dashes than this is drawn solid: each dash would be far below a
// pixel, and stroking them all would stall the frame.
constexpr double kMaxDashes = 1e5;
// Bezier handle length of a quarter ellipse, as a fraction of its radius.
constexpr double kKappa = 0.5522847498307936;

bool Usable(float v)
{
  return std::isfinite(v) && std::fabs(v) <= kMaxCoord;
}

template <typename... Rest>
bool Usable(float v, Rest... rest)
{
  return Usable(v) && Usable(rest...);
}

bool Usable(const IRECT& r)
{
  return Usable(r.L, r.T, r.R, r.B);
}

// A rectangle with area that can be drawn.
bool UsableArea(const IRECT& r)
{
  return Usable(r) && !r.Degenerate();
}

// A thickness, radius or size.
bool UsableLength(float v)
{
  return Usable(v) && v > 0.f;
}

bool UsableTextSize(float size)
{
  return std::isfinite(size) && size > 0.f && size <= kMaxTextSize;
}

double Radians(double degrees)
{
  return degrees * kPi / 180.;
}

double Channel(int v)
{
  return std::clamp(v, 0, 255) / 255.;
}

// The blend's weight as an opacity; negative when the weight is not a number.
double BlendAlpha(const IBlend* blend)
{
  if (!blend)
    return 1.;
  if (!std::isfinite(blend->mWeight))
    return -1.;
  return std::clamp(static_cast<double>(blend->mWeight), 0., 1.);
}

// False when the paint would not show (transparent, or a blend weight that is no number).
bool SetSource(cairo_t* cr, const IColor& color, const IBlend* blend)
{
  const double alpha = Channel(color.A) * BlendAlpha(blend);
  if (!(alpha > 0.))
    return false;
  cairo_set_source_rgba(cr, Channel(color.R), Channel(color.G), Channel(color.B), alpha);
  return true;
}

// The context while a frame draws: drawing at any other time has no region to clip to.
// Also nullptr once the context is in an error state (it recovers with the next frame).
cairo_t* FrameContext(const CairoBackend& backend, bool drawing)
{
  cairo_t* cr = backend.Context();
  return drawing && cairo_status(cr) == CAIRO_STATUS_SUCCESS ? cr : nullptr;
}

void StrokeWith(cairo_t* cr, double thickness, cairo_line_cap_t cap = CAIRO_LINE_CAP_BUTT,
                cairo_line_join_t join = CAIRO_LINE_JOIN_MITER, double miterLimit = 10., bool preserve = false)
{
  cairo_set_line_width(cr, thickness);
  cairo_set_line_cap(cr, cap);
  cairo_set_line_join(cr, join);
  cairo_set_miter_limit(cr, miterLimit);
  if (preserve)
    cairo_stroke_preserve(cr);
  else
    cairo_stroke(cr);
}

void RoundRectPath(cairo_t* cr, const IRECT& r, float cornerRadius)
{
  const double rad = std::min(static_cast<double>(cornerRadius), 0.5 * std::min(r.W(), r.H()));
  if (!(rad > 0.))
  {
    cairo_rectangle(cr, r.L, r.T, r.W(), r.H());
    return;
  }
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.R - rad, r.T + rad, rad, -0.5 * kPi, 0.);
  cairo_arc(cr, r.R - rad, r.B - rad, rad, 0., 0.5 * kPi);
  cairo_arc(cr, r.L + rad, r.B - rad, rad, 0.5 * kPi, kPi);
  cairo_arc(cr, r.L + rad, r.T + rad, rad, kPi, 1.5 * kPi);
  cairo_close_path(cr);
}

// Four quarter curves: no scaled matrix, so a thin ellipse cannot upset the context.
void EllipsePath(cairo_t* cr, const IRECT& r)
{
  const double cx = r.MW(), cy = r.MH();
  const double rx = 0.5 * r.W(), ry = 0.5 * r.H();
  const double kx = kKappa * rx, ky = kKappa * ry;
  cairo_move_to(cr, cx + rx, cy);
  cairo_curve_to(cr, cx + rx, cy + ky, cx + kx, cy + ry, cx, cy + ry);
  cairo_curve_to(cr, cx - kx, cy + ry, cx - rx, cy + ky, cx - rx, cy);
  cairo_curve_to(cr, cx - rx, cy - ky, cx - kx, cy - ry, cx, cy - ry);
  cairo_curve_to(cr, cx + kx, cy - ry, cx + rx, cy - ky, cx + rx, cy);
  cairo_close_path(cr);
}

// Cairo fails the whole context on text it does not accept as UTF-8 (which includes the
// noncharacters), so every such sequence becomes U+FFFD first. Returns str itself when
// it is already valid, else the repaired copy kept in repaired.
const char* CairoUtf8(const char* str, std::string& repaired)
{
  const auto* s = reinterpret_cast<const unsigned char*>(str);
  std::size_t i = 0;
  bool valid = true;
  std::string out;
  auto append = [&](std::size_t from, std::size_t n) { out.append(str + from, n); };
  while (s[i])
  {
    const unsigned char c = s[i];
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len != 0;
    for (std::size_t k = 1; ok && k < len; ++k)
    {
      if ((s[i + k] & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok)
    {
      const std::size_t shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
      ok = shortest == len && cp < 0x110000 && (cp & 0xFFFFF800) != 0xD800 && !(cp >= 0xFDD0 && cp <= 0xFDEF) &&
           (cp & 0xFFFE) != 0xFFFE;
    }
    if (ok)
    {
      if (!valid)
        append(i, len);
      i += len;
      continue;
    }
    if (valid)
    {
      valid = false;
      append(0, i);
    }
    out += "\xEF\xBF\xBD";
    // Skip the lead byte and any continuation bytes that belonged to it.
    ++i;
    while (s[i] && (s[i] & 0xC0) == 0x80)
      ++i;
  }
  if (valid)
    return str;
  repaired = std::move(out);
  return repaired.c_str();
}

struct LineMetrics
{
  double advance = 0.;
  double ascent = 0.;
  double descent = 0.;
};

// One line of valid UTF-8 split into the runs of the faces that draw it (see FontStore).
class TextLine
{
public:
  TextLine(const FontStore& fonts, const IText& text, const char* utf8)
  : mFace(fonts.Face(text.mFont)), mSize(text.mSize), mUtf8(utf8), mLength(std::strlen(utf8))
  {
    mReady = fonts.Runs(text.mFont, utf8, mRuns);
  }

  // Selects each run's face on cr in turn and calls fn with the run's text.
  template <typename Fn>
  void ForEachRun(cairo_t* cr, Fn&& fn) const
  {
    for (const FontRun& run : mRuns)
    {
      cairo_set_font_face(cr, run.face);
      // Text in one face, the usual case, goes to cairo whole, as it always did.
      if (run.begin == 0 && run.end == mLength)
        fn(mUtf8);
      else
        fn(std::string(mUtf8 + run.begin, run.end - run.begin).c_str());
    }
  }

  cairo_font_face_t* Face() const { return mFace; }
  double Size() const { return mSize; }
  // False: a stand-in face holds characters whose system font is still being chosen.
  bool Ready() const { return mReady; }

private:
  cairo_font_face_t* mFace; // the style's own face, whose line metrics the line keeps
  double mSize;
  const char* mUtf8;
  std::size_t mLength;
  std::vector<FontRun> mRuns;
  bool mReady = true;
};

// Measures the line on cr with the faces that draw it: the advances of its runs add up
// to the advance of drawing them one after the other.
LineMetrics MeasureLine(cairo_t* cr, const TextLine& line)
{
  cairo_set_font_face(cr, line.Face());
  cairo_set_font_size(cr, line.Size());
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  LineMetrics m;
  line.ForEachRun(cr, [&](const char* run) {
    cairo_text_extents_t te;
    cairo_text_extents(cr, run, &te);
    m.advance += te.x_advance;
  });
  m.ascent = fe.ascent;
  m.descent = fe.descent;
  // A face that failed leaves zeros or worse; nothing of that may steer a later move_to.
  if (!std::isfinite(m.advance) || !std::isfinite(m.ascent) || !std::isfinite(m.descent))
    return LineMetrics();
  return m;
}

} // namespace

// Resources

bool IGraphics::LoadFont(const char* fontID, const char* fileName)
{
  const EmbeddedResource* file = mResources.Find(fileName);
  if (!file)
    return false;
  return mBackend->Fonts().Load(fontID ? fontID : kDefaultFontID, file->data, file->size);
}

ISVG IGraphics::LoadSVG(const char* fileName, const char* units, float dpi)
{
  const EmbeddedResource* file = mResources.Find(fileName);
  if (!file)
    return ISVG();
  return ISVG(SvgDocument::FromData(file->data, file->size, units, dpi));
}

// Shapes

void IGraphics::FillRect(const IColor& color, const IRECT& bounds, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_rectangle(cr, bounds.L, bounds.T, bounds.W(), bounds.H());
  cairo_fill(cr);
}

void IGraphics::DrawRect(const IColor& color, const IRECT& bounds, const IBlend* pBlend, float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !UsableLength(thickness) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_rectangle(cr, bounds.L, bounds.T, bounds.W(), bounds.H());
  StrokeWith(cr, thickness);
}

void IGraphics::FillRoundRect(const IColor& color, const IRECT& bounds, float cornerRadius, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !Usable(cornerRadius) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  RoundRectPath(cr, bounds, cornerRadius);
  cairo_fill(cr);
}

void IGraphics::DrawRoundRect(const IColor& color, const IRECT& bounds, float cornerRadius, const IBlend* pBlend,
                              float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !Usable(cornerRadius) || !UsableLength(thickness) ||
      !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  RoundRectPath(cr, bounds, cornerRadius);
  StrokeWith(cr, thickness);
}

void IGraphics::FillEllipse(const IColor& color, const IRECT& bounds, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  EllipsePath(cr, bounds);
  cairo_fill(cr);
}

void IGraphics::DrawEllipse(const IColor& color, const IRECT& bounds, const IBlend* pBlend, float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !UsableArea(bounds) || !UsableLength(thickness) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  EllipsePath(cr, bounds);
  StrokeWith(cr, thickness);
}

void IGraphics::FillCircle(const IColor& color, float cx, float cy, float r, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(cx, cy) || !UsableLength(r) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_arc(cr, cx, cy, r, 0., 2. * kPi);
  cairo_fill(cr);
}

void IGraphics::DrawCircle(const IColor& color, float cx, float cy, float r, const IBlend* pBlend, float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(cx, cy) || !UsableLength(r) || !UsableLength(thickness) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_arc(cr, cx, cy, r, 0., 2. * kPi);
  cairo_close_path(cr);
  StrokeWith(cr, thickness);
}

void IGraphics::DrawLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* pBlend,
                         float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(x1, y1, x2, y2) || !UsableLength(thickness) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  StrokeWith(cr, thickness);
}

void IGraphics::DrawDottedLine(const IColor& color, float x1, float y1, float x2, float y2, const IBlend* pBlend,
                               float thickness, float dashLen)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(x1, y1, x2, y2) || !UsableLength(thickness) || !std::isfinite(dashLen) ||
      !SetSource(cr, color, pBlend))
    return;
  const double length = std::hypot(static_cast<double>(x2) - x1, static_cast<double>(y2) - y1);
  const bool dashed = dashLen > 0.f && dashLen <= kMaxCoord && length / dashLen <= kMaxDashes;
  mBackend->ClearPath();
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  if (dashed)
  {
    // Offset 0: every line starts with a full dash at its first point.
    const double dashes[2] = {dashLen, dashLen};
    cairo_set_dash(cr, dashes, 2, 0.);
  }
  StrokeWith(cr, thickness);
  if (dashed)
    cairo_set_dash(cr, nullptr, 0, 0.);
}

void IGraphics::FillTriangle(const IColor& color, float x1, float y1, float x2, float y2, float x3, float y3,
                             const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(x1, y1, x2, y2, x3, y3) || !SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_move_to(cr, x1, y1);
  cairo_line_to(cr, x2, y2);
  cairo_line_to(cr, x3, y3);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void IGraphics::FillConvexPolygon(const IColor& color, const float* x, const float* y, int nPoints,
                                  const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !x || !y || nPoints < 3)
    return;
  for (int i = 0; i < nPoints; ++i)
    if (!Usable(x[i], y[i]))
      return;
  if (!SetSource(cr, color, pBlend))
    return;
  mBackend->ClearPath();
  cairo_move_to(cr, x[0], y[0]);
  for (int i = 1; i < nPoints; ++i)
    cairo_line_to(cr, x[i], y[i]);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void IGraphics::DrawArc(const IColor& color, float cx, float cy, float r, float a1, float a2, const IBlend* pBlend,
                        float thickness)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !Usable(cx, cy, a1, a2) || !UsableLength(r) || !UsableLength(thickness))
    return;
  // Clockwise from a1: an end before the start is reached by going on round.
  double sweep = static_cast<double>(a2) - a1;
  if (sweep < 0.)
    sweep = std::fmod(sweep, 360.) + 360.;
  sweep = std::min(sweep, 360.);
  if (!(sweep > 0.) || !SetSource(cr, color, pBlend))
    return;
  // Our 0 points up; cairo's points right. Both grow clockwise on screen (y down).
  const double start = Radians(std::fmod(static_cast<double>(a1), 360.) - 90.);
  mBackend->ClearPath();
  cairo_arc(cr, cx, cy, r, start, start + Radians(sweep));
  StrokeWith(cr, thickness);
}

// Text

void IGraphics::DrawText(const IText& text, const char* str, const IRECT& bounds, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr || !str || !*str || !Usable(bounds) || !UsableTextSize(text.mSize) || !Usable(text.mAngle) ||
      !SetSource(cr, text.mFGColor, pBlend))
    return;
  std::string repaired;
  const char* utf8 = CairoUtf8(str, repaired);
  const TextLine line(mBackend->Fonts(), text, utf8);
  if (!line.Ready())
    NoteStandInFonts();
  const LineMetrics m = MeasureLine(cr, line);

  double x = bounds.L;
  if (text.mAlign == EAlign::Center)
    x = bounds.MW() - 0.5 * m.advance;
  else if (text.mAlign == EAlign::Far)
    x = bounds.R - m.advance;
  double baseline = bounds.MH() + 0.5 * (m.ascent - m.descent);
  if (text.mVAlign == EVAlign::Top)
    baseline = bounds.T + m.ascent;
  else if (text.mVAlign == EVAlign::Bottom)
    baseline = bounds.B - m.descent;

  const bool rotated = text.mAngle != 0.f;
  if (rotated)
  {
    cairo_save(cr);
    cairo_translate(cr, bounds.MW(), bounds.MH());
    cairo_rotate(cr, Radians(text.mAngle));
    cairo_translate(cr, -bounds.MW(), -bounds.MH());
  }
  mBackend->ClearPath();
  cairo_move_to(cr, x, baseline);
  // Each run goes on from where the one before it ended.
  line.ForEachRun(cr, [cr](const char* run) { cairo_show_text(cr, run); });
  // Showing text leaves a current point; the control's next path must not start there.
  cairo_new_path(cr);
  if (rotated)
    cairo_restore(cr);
}

float IGraphics::MeasureText(const IText& text, const char* str, IRECT& bounds) const
{
  bounds = IRECT();
  cairo_t* cr = mBackend->Context();
  if (!str || !UsableTextSize(text.mSize) || cairo_status(cr) != CAIRO_STATUS_SUCCESS)
    return 0.f;
  std::string repaired;
  const char* utf8 = CairoUtf8(str, repaired);
  const TextLine line(mBackend->Fonts(), text, utf8);
  if (!line.Ready())
    NoteStandInFonts();
  const LineMetrics m = MeasureLine(cr, line);
  bounds.R = static_cast<float>(m.advance);
  bounds.B = static_cast<float>(m.ascent + m.descent);
  return bounds.R;
}

// SVG

void IGraphics::DrawSVG(const ISVG& svg, const IRECT& bounds, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  const double alpha = BlendAlpha(pBlend);
  if (!cr || !svg.IsValid() || !UsableArea(bounds) || !(alpha > 0.))
    return;
  const double scale = std::min(bounds.W() / svg.W(), bounds.H() / svg.H());
  const double w = svg.W() * scale, h = svg.H() * scale;
  if (!(w > 0.) || !(h > 0.))
    return;
  mBackend->ClearPath();
  cairo_save(cr);
  if (alpha < 1.)
    cairo_push_group(cr);
  svg.Document()->Render(cr, bounds.MW() - 0.5 * w, bounds.MH() - 0.5 * h, w, h);
  if (alpha < 1.)
  {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
  }
  cairo_restore(cr);
  cairo_new_path(cr);
}

// Layers

ILayer::ILayer(std::unique_ptr<LayerPixels> pixels, const IRECT& pixelBounds, unsigned generation,
               bool awaitsFonts, unsigned fontGeneration)
: mPixels(std::move(pixels))
, mPixelBounds(pixelBounds)
, mGeneration(generation)
, mAwaitsFonts(awaitsFonts)
, mFontGeneration(fontGeneration)
{
}

ILayer::~ILayer() = default;

void IGraphics::StartLayer(const IRECT& r)
{
  if (!mDrawing)
    return;
  const IRECT surface(0.f, 0.f, static_cast<float>(mBackend->PixelWidth()),
                      static_cast<float>(mBackend->PixelHeight()));
  IRECT px;
  if (UsableArea(r))
    px = r.GetWholePixels(mBackend->Scale()).Intersect(surface);
  if (px.Degenerate())
    px = IRECT();
  mOpenLayers.push_back({px, mRegionClipped, mRegionClip, mLayersEnabled, mStandIns});
  mRegionClipped = false;
  // Without layers the drawing stays on the window, under the clip already in force there.
  if (!mLayersEnabled)
    return;
  // Nothing of the window shows through an empty layer; its drawing lands on one spare pixel.
  mBackend->BeginLayer(px.Degenerate() ? IRECT(0.f, 0.f, 1.f, 1.f) : px);
  // The clip of drawing on the window, less the region's, which is whole pixels and
  // changes from frame to frame: an edge cut across a pixel comes out as it would there,
  // and DrawLayer need not cut it again.
  mBackend->PushClip(mControlClip);
  if (mOpenLayers.back().regionClipped)
    mBackend->PushClip(mOpenLayers.back().regionClip);
}

ILayerPtr IGraphics::EndLayer()
{
  if (mOpenLayers.empty())
    return nullptr;
  const OpenLayer open = mOpenLayers.back();
  mOpenLayers.pop_back();
  if (mRegionClipped)
    mBackend->PopClip();
  mRegionClipped = open.regionClipped;
  mRegionClip = open.regionClip;
  if (!open.offscreen)
  {
    mBackend->ClearPath();
    return nullptr;
  }
  std::unique_ptr<LayerPixels> pixels = mBackend->EndLayer();
  return ILayerPtr(new ILayer(std::move(pixels), open.pixelBounds, mBackend->Generation(), mStandIns != open.standInsBefore,
                              mFontsSeen));
}

bool IGraphics::CheckLayer(const ILayerPtr& layer) const
{
  // Text drawn with stand-in faces is drawn again once the system fonts have moved on.
  return mLayersEnabled && layer && !layer->mInvalid && layer->mGeneration == mBackend->Generation() &&
         !(layer->mAwaitsFonts && layer->mFontGeneration != mFontsSeen);
}

void IGraphics::DrawLayer(const ILayerPtr& layer, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  const double alpha = BlendAlpha(pBlend);
  // Drawn for another surface, it would land in the wrong place.
  if (!cr || !mLayersEnabled || !layer || layer->mGeneration != mBackend->Generation() ||
      layer->mPixelBounds.Degenerate() || !(alpha > 0.))
    return;
  // The whole pixels of the clip in force, within the region (or the layer) drawn into.
  const IRECT clip = mRegionClipped ? mControlClip.Intersect(mRegionClip) : mControlClip;
  IRECT within = mRegionPixels;
  for (const OpenLayer& open : mOpenLayers)
    if (open.offscreen)
      within = open.pixelBounds;
  const IRECT px = clip.GetWholePixels(mBackend->Scale()).Intersect(within).Intersect(layer->mPixelBounds);
  if (px.Degenerate())
    return;
  mBackend->ClearPath();
  mBackend->DrawLayerPixels(*layer->mPixels, static_cast<int>(layer->mPixelBounds.L),
                            static_cast<int>(layer->mPixelBounds.T), px, alpha);
}

// Paths

void IGraphics::PathClear()
{
  if (mDrawing)
    mBackend->ClearPath();
}

void IGraphics::PathMoveTo(float x, float y)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr)
    return;
  if (!Usable(x, y))
    mBackend->MarkPathBroken();
  else
    cairo_move_to(cr, x, y);
}

void IGraphics::PathLineTo(float x, float y)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr)
    return;
  if (!Usable(x, y))
    mBackend->MarkPathBroken();
  else
    cairo_line_to(cr, x, y);
}

void IGraphics::PathCubicBezierTo(float c1x, float c1y, float c2x, float c2y, float x2, float y2)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr)
    return;
  if (!Usable(c1x, c1y, c2x, c2y, x2, y2))
    mBackend->MarkPathBroken();
  else
    cairo_curve_to(cr, c1x, c1y, c2x, c2y, x2, y2);
}

void IGraphics::PathClose()
{
  if (cairo_t* cr = FrameContext(*mBackend, mDrawing))
    cairo_close_path(cr);
}

void IGraphics::PathFill(const IPattern& pattern, const IFillOptions& options, const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr)
    return;
  if (mBackend->PathBroken() || !SetSource(cr, pattern.mColor, pBlend))
  {
    if (!options.mPreserve)
      mBackend->ClearPath();
    return;
  }
  cairo_set_fill_rule(cr, options.mFillRule == EFillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  if (options.mPreserve)
    cairo_fill_preserve(cr);
  else
    cairo_fill(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
}

void IGraphics::PathStroke(const IPattern& pattern, float thickness, const IStrokeOptions& options,
                           const IBlend* pBlend)
{
  cairo_t* cr = FrameContext(*mBackend, mDrawing);
  if (!cr)
    return;
  if (mBackend->PathBroken() || !UsableLength(thickness) || !SetSource(cr, pattern.mColor, pBlend))
  {
    if (!options.mPreserve)
      mBackend->ClearPath();
    return;
  }
  const cairo_line_cap_t cap = options.mCapOption == ELineCap::Round    ? CAIRO_LINE_CAP_ROUND
                               : options.mCapOption == ELineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                                         : CAIRO_LINE_CAP_BUTT;
  const cairo_line_join_t join = options.mJoinOption == ELineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                                 : options.mJoinOption == ELineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                                           : CAIRO_LINE_JOIN_MITER;
  const double miter = std::isfinite(options.mMiterLimit) ? std::max(1.f, options.mMiterLimit) : 10.;
  StrokeWith(cr, thickness, cap, join, miter, options.mPreserve);
}

} // namespace iplug::igraphics
