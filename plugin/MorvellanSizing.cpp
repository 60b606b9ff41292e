#include "Morvellan.h"

#include <cmath>

#include "EditorSizing.h"
#include "IGraphics.h"

float Morvellan::CurrentScreenScale() const
{
  const iplug::igraphics::IGraphics* ui = GetUI();
  return ui ? ui->GetScreenScale() : mScreenScale;
}

bool Morvellan::ConstrainEditorResize(int& width, int& height) const
{
  return morvellan::sizing::ConstrainEditorSize(width, height, CurrentScreenScale());
}

void Morvellan::OnParentWindowResize(int width, int height)
{
  // Only an open editor follows the host's window.
  iplug::igraphics::IGraphics* ui = GetUI();
  if (!ui)
    return;
  mScreenScale = ui->GetScreenScale();
  ConstrainEditorResize(width, height);
  const float scale = morvellan::sizing::DrawScaleFor(width, height, mScreenScale);
  // The host has sized its window already: rescale the canvas without asking it again.
  if (std::isfinite(scale) && scale > 0.0f &&
      std::fabs(scale - ui->GetDrawScale()) > morvellan::sizing::kRedrawThreshold)
    ui->Resize(morvellan::sizing::kCanvasWidth, morvellan::sizing::kCanvasHeight, scale, false);
  mEditorWidth = width;
  mEditorHeight = height;
}

void Morvellan::OnHostScreenScale(float scale)
{
  if (!(std::isfinite(scale) && scale > 0.0f))
    return;
  // A closed editor keeps its size on the canvas: at the new density that is another
  // number of pixels, which getSize and the next window report.
  if (!GetUI() && mEditorWidth >= 1 && mEditorHeight >= 1)
  {
    using namespace morvellan::sizing;
    const EditorSize canvas = SavedSizeWithoutEditor(mEditorWidth, mEditorHeight, mScreenScale);
    const EditorSize window = WindowSizeForRestored(canvas, scale);
    mEditorWidth = window.width;
    mEditorHeight = window.height;
  }
  mScreenScale = scale;
}
