#pragma once

// The Cairo side of IGraphics: an image surface of the window's pixels, the clip stack,
// fonts and SVG. Private to the framework: controls never see Cairo.

#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "FontStore.h"
#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

// An offscreen image at the window's pixel scale (see ILayer).
struct LayerPixels
{
  explicit LayerPixels(cairo_surface_t* s) : surface(s) {}
  ~LayerPixels() { cairo_surface_destroy(surface); }
  LayerPixels(const LayerPixels&) = delete;
  LayerPixels& operator=(const LayerPixels&) = delete;

  cairo_surface_t* surface;
};

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
  // Counts the surfaces made by SetSize: what was drawn for another one is stale.
  unsigned Generation() const { return mGeneration; }

  // Drawing of one region (canvas units): clears it and clips to it until EndRegion.
  void BeginRegion(const IRECT& region);
  void EndRegion();
  // A further clip inside the region (one control); nests.
  void PushClip(const IRECT& bounds);
  void PopClip();

  // Drawing goes offscreen, to an image of the whole window pixels in pixelBounds, until
  // the matching EndLayer; layers nest.
  void BeginLayer(const IRECT& pixelBounds);
  std::unique_ptr<LayerPixels> EndLayer();
  bool InLayer() const { return !mLayers.empty(); }
  // Paints the pixels with their top left corner at that window pixel, within the window
  // pixels of clip and nothing else.
  void DrawLayerPixels(const LayerPixels& pixels, int pixelLeft, int pixelTop, const IRECT& clip, double alpha);

  // The context draws in canvas units: its matrix holds the draw scale. While a layer is
  // open it is the layer's.
  cairo_t* Context() const { return mLayers.empty() ? mCairo : mLayers.back().cairo; }
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
  void SetFontOptions(cairo_t* cr) const;

  struct OpenLayer
  {
    cairo_surface_t* surface;
    cairo_t* cairo;
    int originX; // the window pixel of its first pixel
    int originY;
  };

  FontStore mFonts;
  cairo_surface_t* mSurface = nullptr;
  cairo_t* mCairo = nullptr;
  int mPixelWidth = 0;
  int mPixelHeight = 0;
  float mScale = 1.f;
  unsigned mGeneration = 0;
  bool mPathBroken = false;
  std::vector<OpenLayer> mLayers;
};

} // namespace iplug::igraphics
