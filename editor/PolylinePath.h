#pragma once

namespace iplug::igraphics
{
class IGraphics;
struct IColor;
}

// Long curves of many short segments, drawn cheaply. Points whose neighbours' chord passes
// within a twentieth of a unit of them are merged, and a stroke is filled as its outline,
// which Cairo rasterises in a third of the time its stroker needs for the same shape.
namespace polyline
{

// Adds the points to the current path: a line to the first when continuePath, else a move.
void Trace(iplug::igraphics::IGraphics& g, const float* x, const float* y, int n, bool continuePath);

// Fills the outline of the stroke of the points: butt ends and mitred joins, bevelled past
// a miter limit of 10, as the default stroke options draw them. Consumes the current path.
void Stroke(iplug::igraphics::IGraphics& g, const float* x, const float* y, int n, float thickness,
            const iplug::igraphics::IColor& colour);

} // namespace polyline
