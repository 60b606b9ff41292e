#pragma once

// The files embedded in the module: "Roboto-Regular.ttf", "RobotoCondensed-Bold.ttf" and
// "morvellan-lockup.svg", for IGraphics::SetResources.

namespace iplug::igraphics
{
struct EmbeddedResources;
}

const iplug::igraphics::EmbeddedResources& MorvellanResources();
