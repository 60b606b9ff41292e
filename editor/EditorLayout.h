#pragma once

class Morvellan;

namespace iplug::igraphics
{
class IGraphics;
}

// The editor's graphics context for the plug-in's current size and screen scale.
iplug::igraphics::IGraphics* MakeGraphics(Morvellan& plug);

// Builds the whole window: fonts, background and every control, attached in order.
// Runs when the editor opens and again after an accent change.
void LayoutEditor(Morvellan& plug, iplug::igraphics::IGraphics& g);
