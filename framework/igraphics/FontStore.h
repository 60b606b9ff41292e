#pragma once

// Fonts of one graphics context, by font ID. Private to the Cairo back end. The faces
// themselves belong to the process and outlive every store (see FontStore.cpp).

#include <cairo.h>

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace iplug::igraphics
{

struct LoadedFont;

// Bytes [begin, end) of a line, drawn in one face.
struct FontRun
{
  cairo_font_face_t* face = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;
};

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
  // Splits valid UTF-8 into runs: fontID's face for every character it has, a system font
  // chosen through fontconfig for each one it lacks. A character no font has stays in
  // fontID's face (its missing-glyph box); invisible format characters that face lacks
  // are left out. Without a font loaded here the whole text is one run of the system face.
  // False when a system font is still being chosen (see FallbackFonts.h): its characters
  // are then in a stand-in, a system face already open that has them or else fontID's.
  bool Runs(const std::string& fontID, const char* utf8, std::vector<FontRun>& runs) const;

private:
  const LoadedFont* Font(const std::string& fontID) const;

  std::map<std::string, const LoadedFont*, std::less<>> mFonts;
  const LoadedFont* mFirstLoaded = nullptr;
};

} // namespace iplug::igraphics
