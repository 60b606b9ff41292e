#pragma once

namespace iplug::igraphics
{
class IGraphics;
struct IColor;
}

// Long curves of many short segments, drawn cheaply: Cairo's stroker costs about as much per
// segment as a short line of its own, while the same shapes filled as outlines cost far less.
// Points whose neighbours' chord passes within a twentieth of a unit of them are merged.
namespace polyline
{

// Fills the area between the points and the horizontal line at lineY, closed by that line
// from x = left to x = right. Replaces the current path.
void FillToLine(iplug::igraphics::IGraphics& g, const float* x, const float* y, int n, float left, float right,
                float lineY, const iplug::igraphics::IColor& colour);

// Fills the outline of the stroke of the points: butt ends and mitred joins, bevelled past
// a miter limit of 10, as the default stroke options draw them. Consumes the current path.
void Stroke(iplug::igraphics::IGraphics& g, const float* x, const float* y, int n, float thickness,
            const iplug::igraphics::IColor& colour);

// Appends to the current path the dashes a dotted line from (x1, y1) to (x2, y2) draws:
// dashLen on, dashLen off, starting on at the first point, butt ends. Many dotted lines of
// one colour then cost one fill instead of a dashed stroke each.
void AddDashes(iplug::igraphics::IGraphics& g, float x1, float y1, float x2, float y2, float thickness,
               float dashLen);

} // namespace polyline
