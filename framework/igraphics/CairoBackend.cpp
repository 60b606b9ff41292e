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
  if (mCairo)
    cairo_destroy(mCairo);
  if (mSurface)
    cairo_surface_destroy(mSurface);
  mScale = scale;
  mPixelWidth = std::max(1, static_cast<int>(std::lround(w * scale)));
  mPixelHeight = std::max(1, static_cast<int>(std::lround(h * scale)));
  mSurface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, mPixelWidth, mPixelHeight);
  mCairo = cairo_create(mSurface);
  cairo_scale(mCairo, scale, scale);
}

void CairoBackend::BeginRegion(const IRECT& region)
{
  cairo_save(mCairo);
  cairo_rectangle(mCairo, region.L, region.T, region.W(), region.H());
  cairo_clip(mCairo);
  cairo_save(mCairo);
  cairo_set_operator(mCairo, CAIRO_OPERATOR_CLEAR);
  cairo_paint(mCairo);
  cairo_restore(mCairo);
}

void CairoBackend::EndRegion()
{
  cairo_restore(mCairo);
  cairo_surface_flush(mSurface);
}

void CairoBackend::PushClip(const IRECT& bounds)
{
  cairo_save(mCairo);
  cairo_rectangle(mCairo, bounds.L, bounds.T, bounds.W(), bounds.H());
  cairo_clip(mCairo);
}

void CairoBackend::PopClip()
{
  cairo_restore(mCairo);
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
