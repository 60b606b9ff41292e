#include "FontStore.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace iplug::igraphics
{

namespace
{

struct LoadedFont
{
  std::vector<unsigned char> bytes; // FreeType reads the face from here for its whole life
  FT_Face ftFace = nullptr;
  cairo_font_face_t* face = nullptr;
};

// Faces are shared by every graphics context of the process and never released. An
// FT_Face must outlive its cairo face, and cairo keeps faces in its caches after their
// last user lets go; only a destroy callback would tell when it finally drops one, and
// cairo might run it after the host has unloaded this module. Identical files (every
// editor loads the same two fonts) share one face, so this stays at a handful.
struct FontRegistry
{
  std::mutex mutex;
  FT_Library library = nullptr;
  bool libraryFailed = false;
  std::vector<std::unique_ptr<LoadedFont>> fonts;
  cairo_font_face_t* systemFace = nullptr;

  cairo_font_face_t* Find(const unsigned char* data, std::size_t size) const
  {
    for (const auto& f : fonts)
      if (f->bytes.size() == size && std::memcmp(f->bytes.data(), data, size) == 0)
        return f->face;
    return nullptr;
  }

  cairo_font_face_t* Load(const unsigned char* data, std::size_t size)
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (cairo_font_face_t* known = Find(data, size))
      return known;
    if (!library && !libraryFailed)
      libraryFailed = FT_Init_FreeType(&library) != 0;
    if (!library)
      return nullptr;

    auto font = std::make_unique<LoadedFont>();
    font->bytes.assign(data, data + size);
    if (FT_New_Memory_Face(library, font->bytes.data(), static_cast<FT_Long>(size), 0, &font->ftFace) != 0)
      return nullptr;
    if (!FT_IS_SCALABLE(font->ftFace))
    {
      FT_Done_Face(font->ftFace);
      return nullptr;
    }
    // Unhinted outlines keep advances proportional to the size, so text measures the
    // same at every draw scale.
    font->face = cairo_ft_font_face_create_for_ft_face(font->ftFace, FT_LOAD_NO_HINTING);
    if (cairo_font_face_status(font->face) != CAIRO_STATUS_SUCCESS)
    {
      cairo_font_face_destroy(font->face);
      FT_Done_Face(font->ftFace);
      return nullptr;
    }
    fonts.push_back(std::move(font));
    return fonts.back()->face;
  }

  // Made on first need only: resolving it starts fontconfig, which can take a while.
  cairo_font_face_t* SystemFace()
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!systemFace)
      systemFace = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    return systemFace;
  }
};

FontRegistry& Registry()
{
  // Deliberately never destroyed (see FontRegistry).
  static FontRegistry* registry = new FontRegistry;
  return *registry;
}

} // namespace

FontStore::FontStore() = default;
FontStore::~FontStore() = default;

bool FontStore::Load(const std::string& fontID, const unsigned char* data, std::size_t size)
{
  if (!data || size == 0)
    return false;
  cairo_font_face_t* face = Registry().Load(data, size);
  if (!face)
    return false;
  mFaces[fontID] = face;
  if (!mFirstLoaded)
    mFirstLoaded = face;
  return true;
}

cairo_font_face_t* FontStore::Face(const std::string& fontID) const
{
  if (const auto it = mFaces.find(fontID); it != mFaces.end())
    return it->second;
  return mFirstLoaded ? mFirstLoaded : Registry().SystemFace();
}

} // namespace iplug::igraphics
