#include "CairoBackend.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics
{

CairoBackend::CairoBackend() = default;

CairoBackend::~CairoBackend()
{
  while (InLayer())
    EndLayer();
  if (mCairo)
    cairo_destroy(mCairo);
  if (mSurface)
    cairo_surface_destroy(mSurface);
}

void CairoBackend::SetSize(int w, int h, float scale)
{
  if (mSurface)
    cairo_surface_destroy(mSurface);
  mScale = scale;
  mPixelWidth = std::max(1, static_cast<int>(std::lround(w * scale)));
  mPixelHeight = std::max(1, static_cast<int>(std::lround(h * scale)));
  mSurface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, mPixelWidth, mPixelHeight);
  ++mGeneration;
  MakeContext();
}

void CairoBackend::MakeContext()
{
  if (mCairo)
    cairo_destroy(mCairo);
  mCairo = cairo_create(mSurface);
  cairo_scale(mCairo, mScale, mScale);
  SetFontOptions(mCairo);
  mPathBroken = false;
}

void CairoBackend::SetFontOptions(cairo_t* cr) const
{
  // Unhinted glyphs and advances: text keeps its measured width at every draw scale.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

void CairoBackend::BeginLayer(const IRECT& pixelBounds)
{
  const int w = std::max(1, static_cast<int>(pixelBounds.W()));
  const int h = std::max(1, static_cast<int>(pixelBounds.H()));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  // A whole-pixel shift of the window's own matrix: every edge falls on the same fraction
  // of a pixel as it would on the window, so the pixels come out the same.
  cairo_translate(cr, -pixelBounds.L, -pixelBounds.T);
  cairo_scale(cr, mScale, mScale);
  SetFontOptions(cr);
  mLayers.push_back({surface, cr, static_cast<int>(pixelBounds.L), static_cast<int>(pixelBounds.T)});
  mPathBroken = false;
}

std::unique_ptr<LayerPixels> CairoBackend::EndLayer()
{
  if (mLayers.empty())
    return nullptr;
  const OpenLayer layer = mLayers.back();
  mLayers.pop_back();
  cairo_destroy(layer.cairo);
  cairo_surface_flush(layer.surface);
  // The context drawn into before the layer goes on with a fresh path.
  cairo_new_path(Context());
  mPathBroken = false;
  return std::make_unique<LayerPixels>(layer.surface);
}

void CairoBackend::DrawLayerPixels(const LayerPixels& pixels, int pixelLeft, int pixelTop, const IRECT& clip,
                                   double alpha)
{
  cairo_t* cr = Context();
  cairo_save(cr);
  // Pixel for pixel: no scaling, no filtering.
  cairo_identity_matrix(cr);
  // Into an enclosing layer, whose first pixel is not the window's.
  const int originX = mLayers.empty() ? 0 : mLayers.back().originX;
  const int originY = mLayers.empty() ? 0 : mLayers.back().originY;
  cairo_reset_clip(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, clip.L - originX, clip.T - originY, clip.W(), clip.H());
  cairo_clip(cr);
  cairo_set_source_surface(cr, pixels.surface, pixelLeft - originX, pixelTop - originY);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  if (alpha >= 1.)
    cairo_paint(cr);
  else
    cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
}

void CairoBackend::BeginRegion(const IRECT& region)
{
  // An error is sticky in a cairo context and would blank every later frame.
  if (cairo_status(mCairo) != CAIRO_STATUS_SUCCESS && cairo_surface_status(mSurface) == CAIRO_STATUS_SUCCESS)
    MakeContext();
  cairo_save(mCairo);
  // A path left over from the last frame would join the clip shape.
  cairo_new_path(mCairo);
  cairo_rectangle(mCairo, region.L, region.T, region.W(), region.H());
  cairo_clip(mCairo);
  cairo_save(mCairo);
  cairo_set_operator(mCairo, CAIRO_OPERATOR_CLEAR);
  cairo_paint(mCairo);
  cairo_restore(mCairo);
  mPathBroken = false;
}

void CairoBackend::EndRegion()
{
  cairo_restore(mCairo);
  cairo_surface_flush(mSurface);
}

void CairoBackend::PushClip(const IRECT& bounds)
{
  cairo_t* cr = Context();
  cairo_save(cr);
  // Each control starts with an empty path (the clip consumes this one).
  cairo_new_path(cr);
  cairo_rectangle(cr, bounds.L, bounds.T, bounds.W(), bounds.H());
  cairo_clip(cr);
  mPathBroken = false;
}

void CairoBackend::PopClip()
{
  cairo_restore(Context());
}

void CairoBackend::ClearPath()
{
  cairo_new_path(Context());
  mPathBroken = false;
}

const unsigned char* CairoBackend::Pixels(int& stride) const
{
  cairo_surface_flush(mSurface);
  stride = cairo_image_surface_get_stride(mSurface);
  return cairo_image_surface_get_data(mSurface);
}

bool CairoBackend::WritePNG(const char* path) const
{
  cairo_surface_flush(mSurface);
  return path && cairo_surface_write_to_png(mSurface, path) == CAIRO_STATUS_SUCCESS;
}

} // namespace iplug::igraphics
