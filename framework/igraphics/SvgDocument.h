#pragma once

// A parsed SVG held by librsvg. Private to the Cairo back end.

#include <cairo.h>

#include <cstddef>
#include <memory>

struct _RsvgHandle;

namespace iplug::igraphics
{

class SvgDocument
{
public:
  // nullptr when data is not an SVG with a usable size. The size is expressed in units
  // ("px", "pt", "in", "cm" or "mm"; px when unknown) at dpi dots per inch.
  static std::shared_ptr<SvgDocument> FromData(const unsigned char* data, std::size_t size, const char* units,
                                               float dpi);
  ~SvgDocument();
  SvgDocument(const SvgDocument&) = delete;
  SvgDocument& operator=(const SvgDocument&) = delete;

  float Width() const { return mWidth; }
  float Height() const { return mHeight; }

  // The whole document stretched over the rectangle (x, y, w, h) in cr's user space.
  void Render(cairo_t* cr, double x, double y, double w, double h) const;

private:
  SvgDocument(_RsvgHandle* handle, float w, float h) : mHandle(handle), mWidth(w), mHeight(h) {}

  _RsvgHandle* mHandle;
  float mWidth;
  float mHeight;
};

} // namespace iplug::igraphics
