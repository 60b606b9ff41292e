// Placeholder bodies until the Cairo drawing lands.
#include "CairoBackend.h"
#include "IGraphics.h"

namespace iplug::igraphics
{

ISVG::ISVG(std::shared_ptr<SvgDocument> doc) : mDoc(std::move(doc)) {}
float ISVG::W() const { return 0.f; }
float ISVG::H() const { return 0.f; }

bool IGraphics::LoadFont(const char*, const char*) { return false; }
ISVG IGraphics::LoadSVG(const char*, const char*, float) { return ISVG(); }
void IGraphics::FillRect(const IColor&, const IRECT&, const IBlend*) {}
void IGraphics::DrawRect(const IColor&, const IRECT&, const IBlend*, float) {}
void IGraphics::FillRoundRect(const IColor&, const IRECT&, float, const IBlend*) {}
void IGraphics::DrawRoundRect(const IColor&, const IRECT&, float, const IBlend*, float) {}
void IGraphics::FillEllipse(const IColor&, const IRECT&, const IBlend*) {}
void IGraphics::DrawEllipse(const IColor&, const IRECT&, const IBlend*, float) {}
void IGraphics::FillCircle(const IColor&, float, float, float, const IBlend*) {}
void IGraphics::DrawCircle(const IColor&, float, float, float, const IBlend*, float) {}
void IGraphics::DrawLine(const IColor&, float, float, float, float, const IBlend*, float) {}
void IGraphics::DrawDottedLine(const IColor&, float, float, float, float, const IBlend*, float, float) {}
void IGraphics::FillTriangle(const IColor&, float, float, float, float, float, float, const IBlend*) {}
void IGraphics::FillConvexPolygon(const IColor&, const float*, const float*, int, const IBlend*) {}
void IGraphics::DrawArc(const IColor&, float, float, float, float, float, const IBlend*, float) {}
void IGraphics::DrawText(const IText&, const char*, const IRECT&, const IBlend*) {}
float IGraphics::MeasureText(const IText&, const char*, IRECT& bounds) const { bounds = IRECT(); return 0.f; }
void IGraphics::DrawSVG(const ISVG&, const IRECT&, const IBlend*) {}
void IGraphics::PathClear() {}
void IGraphics::PathMoveTo(float, float) {}
void IGraphics::PathLineTo(float, float) {}
void IGraphics::PathCubicBezierTo(float, float, float, float, float, float) {}
void IGraphics::PathClose() {}
void IGraphics::PathFill(const IPattern&, const IFillOptions&, const IBlend*) {}
void IGraphics::PathStroke(const IPattern&, float, const IStrokeOptions&, const IBlend*) {}

} // namespace iplug::igraphics
