#include "CairoBackend.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics
{

CairoBackend::CairoBackend() = default;

CairoBackend::~CairoBackend()
{
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
  MakeContext();
}

void CairoBackend::MakeContext()
{
  if (mCairo)
    cairo_destroy(mCairo);
  mCairo = cairo_create(mSurface);
  cairo_scale(mCairo, mScale, mScale);
  // Unhinted glyphs and advances: text keeps its measured width at every draw scale.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_font_options(mCairo, options);
  cairo_font_options_destroy(options);
  mPathBroken = false;
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
  cairo_save(mCairo);
  // Each control starts with an empty path (the clip consumes this one).
  cairo_new_path(mCairo);
  cairo_rectangle(mCairo, bounds.L, bounds.T, bounds.W(), bounds.H());
  cairo_clip(mCairo);
  mPathBroken = false;
}

void CairoBackend::PopClip()
{
  cairo_restore(mCairo);
}

void CairoBackend::ClearPath()
{
  cairo_new_path(mCairo);
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
