#pragma once

#include <memory>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

// The back end's pixels of a layer; private to the framework.
struct LayerPixels;

// What a control drew offscreen once, kept at the window's pixel scale so that showing it
// again is a copy. A control keeps it while the things it shows stay the same:
//
//   if (!g.CheckLayer(mLayer)) { g.StartLayer(r); ...draw...; mLayer = g.EndLayer(); }
//   g.DrawLayer(mLayer);
//
// A new window size or draw scale makes every layer stale (CheckLayer answers false).
class ILayer
{
public:
  ~ILayer();
  ILayer(const ILayer&) = delete;
  ILayer& operator=(const ILayer&) = delete;

  // The owner's inputs changed: the next CheckLayer answers false.
  void Invalidate() { mInvalid = true; }

private:
  friend class IGraphics;
  ILayer(std::unique_ptr<LayerPixels> pixels, const IRECT& pixelBounds, unsigned generation, bool awaitsFonts,
         unsigned fontGeneration);

  std::unique_ptr<LayerPixels> mPixels;
  // Whole window pixels the layer covers.
  IRECT mPixelBounds;
  // The window surface it was drawn for.
  unsigned mGeneration;
  bool mInvalid = false;
  // Some of its text is in stand-in faces, as the system fonts stood at fontGeneration.
  bool mAwaitsFonts;
  unsigned mFontGeneration;
};

using ILayerPtr = std::unique_ptr<ILayer>;

} // namespace iplug::igraphics
