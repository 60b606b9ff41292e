#pragma once

// The Cairo side of IGraphics: an image surface of the window's pixels, the clip stack,
// fonts and SVG. Private to the framework: controls never see Cairo.

#include <cairo.h>

#include <string>

#include "FontStore.h"
#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

class CairoBackend
{
public:
  CairoBackend();
  ~CairoBackend();
  CairoBackend(const CairoBackend&) = delete;
  CairoBackend& operator=(const CairoBackend&) = delete;

  // (Re)creates the surface for a canvas of w x h units at a draw scale.
  void SetSize(int w, int h, float scale);
  int PixelWidth() const { return mPixelWidth; }
  int PixelHeight() const { return mPixelHeight; }
  float Scale() const { return mScale; }

  // Drawing of one region (canvas units): clears it and clips to it until EndRegion.
  void BeginRegion(const IRECT& region);
  void EndRegion();
  // A further clip inside the region (one control); nests.
  void PushClip(const IRECT& bounds);
  void PopClip();

  // The context draws in canvas units: its matrix holds the draw scale.
  cairo_t* Context() const { return mCairo; }
  cairo_surface_t* Surface() const { return mSurface; }
  const unsigned char* Pixels(int& stride) const;
  bool WritePNG(const char* path) const;

  FontStore& Fonts() { return mFonts; }

  // A path point that was not finite poisons the path being built: the next fill or
  // stroke draws nothing and clears it.
  void MarkPathBroken() { mPathBroken = true; }
  bool PathBroken() const { return mPathBroken; }
  void ClearPath();

private:
  void MakeContext();

  FontStore mFonts;
  cairo_surface_t* mSurface = nullptr;
  cairo_t* mCairo = nullptr;
  int mPixelWidth = 0;
  int mPixelHeight = 0;
  float mScale = 1.f;
  bool mPathBroken = false;
};

} // namespace iplug::igraphics
