#include "SvgDocument.h"

#include <librsvg/rsvg.h>

#include <cmath>
#include <cstring>

#include "ISVG.h"

namespace iplug::igraphics
{

namespace
{

// Canvas units per CSS pixel for the unit a caller asked for.
double UnitsPerPixel(const char* units, double dpi)
{
  if (!units)
    return 1.;
  if (std::strcmp(units, "pt") == 0)
    return 72. / dpi;
  if (std::strcmp(units, "in") == 0)
    return 1. / dpi;
  if (std::strcmp(units, "cm") == 0)
    return 2.54 / dpi;
  if (std::strcmp(units, "mm") == 0)
    return 25.4 / dpi;
  return 1.;
}

bool UsableSize(double w, double h)
{
  return std::isfinite(w) && std::isfinite(h) && w > 0. && h > 0.;
}

// The document's size in pixels: its width and height, else its viewBox.
bool IntrinsicPixels(RsvgHandle* handle, double& w, double& h)
{
  if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &h) && UsableSize(w, h))
    return true;
  gboolean hasW = FALSE, hasH = FALSE, hasViewBox = FALSE;
  RsvgLength lw, lh;
  RsvgRectangle viewBox;
  rsvg_handle_get_intrinsic_dimensions(handle, &hasW, &lw, &hasH, &lh, &hasViewBox, &viewBox);
  if (!hasViewBox)
    return false;
  w = viewBox.width;
  h = viewBox.height;
  return UsableSize(w, h);
}

} // namespace

std::shared_ptr<SvgDocument> SvgDocument::FromData(const unsigned char* data, std::size_t size, const char* units,
                                                   float dpi)
{
  if (!data || size == 0)
    return nullptr;
  const double usedDpi = std::isfinite(dpi) && dpi > 0.f ? dpi : 72.;
  GError* error = nullptr;
  RsvgHandle* handle = rsvg_handle_new_from_data(data, static_cast<gsize>(size), &error);
  if (error)
    g_error_free(error);
  if (!handle)
    return nullptr;
  rsvg_handle_set_dpi(handle, usedDpi);

  double w = 0., h = 0.;
  if (!IntrinsicPixels(handle, w, h))
  {
    g_object_unref(handle);
    return nullptr;
  }
  const double k = UnitsPerPixel(units, usedDpi);
  return std::shared_ptr<SvgDocument>(new SvgDocument(handle, static_cast<float>(w * k), static_cast<float>(h * k)));
}

SvgDocument::~SvgDocument()
{
  g_object_unref(mHandle);
}

void SvgDocument::Render(cairo_t* cr, double x, double y, double w, double h) const
{
  const RsvgRectangle viewport{x, y, w, h};
  GError* error = nullptr;
  // A document that fails part-way leaves what it drew; there is nothing better to show.
  rsvg_handle_render_document(mHandle, cr, &viewport, &error);
  if (error)
    g_error_free(error);
}

ISVG::ISVG(std::shared_ptr<SvgDocument> doc) : mDoc(std::move(doc)) {}

float ISVG::W() const
{
  return mDoc ? mDoc->Width() : 0.f;
}

float ISVG::H() const
{
  return mDoc ? mDoc->Height() : 0.f;
}

} // namespace iplug::igraphics
