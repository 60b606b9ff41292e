#pragma once

// Fonts of one graphics context, by font ID. Private to the Cairo back end. The faces
// themselves belong to the process and outlive every store (see FontStore.cpp).

#include <cairo.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>

namespace iplug::igraphics
{

class FontStore
{
public:
  FontStore();
  ~FontStore();
  FontStore(const FontStore&) = delete;
  FontStore& operator=(const FontStore&) = delete;

  // Makes the TrueType/OpenType font in data known as fontID (the bytes are copied).
  // False when FreeType cannot read it; the ID then keeps whatever it named before.
  bool Load(const std::string& fontID, const unsigned char* data, std::size_t size);
  // The face for fontID; an unknown or empty ID gets the first font loaded here, or a
  // system sans-serif when none was. Never null.
  cairo_font_face_t* Face(const std::string& fontID) const;

private:
  std::map<std::string, cairo_font_face_t*, std::less<>> mFaces;
  cairo_font_face_t* mFirstLoaded = nullptr;
};

} // namespace iplug::igraphics
