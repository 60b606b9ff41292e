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
  // The factor in force already: the kept size is in it.
  if (!(std::isfinite(scale) && scale > 0.0f) || scale == mScreenScale)
    return;
  // A closed editor keeps its size on the canvas: at the new density that is another
  // number of pixels, which getSize and the next window report.
  if (!GetUI() && mEditorWidth >= 1 && mEditorHeight >= 1)
  {
    using namespace morvellan::sizing;
    const EditorSize window{mEditorWidth, mEditorHeight};
    // From the saved size the window came from, if it did: a trip through other factors
    // comes back to the same pixels.
    const EditorSize saved = mKeptEditorSize.Holds(window, mScreenScale)
                               ? mKeptEditorSize.state
                               : SavedSizeWithoutEditor(mEditorWidth, mEditorHeight, mScreenScale);
    const EditorSize next = WindowSizeForRestored(saved, scale);
    mEditorWidth = next.width;
    mEditorHeight = next.height;
    mKeptEditorSize = {saved, next, scale};
  }
  mScreenScale = scale;
}

morvellan::sizing::EditorSize Morvellan::SavedEditorSize() const
{
  using namespace morvellan::sizing;
  // The size at screen scale 1 times the user's draw scale.
  const EditorSize window{mEditorWidth, mEditorHeight};
  if (const iplug::igraphics::IGraphics* ui = GetUI())
  {
    const float screenScale = ui->GetScreenScale();
    if (mKeptEditorSize.Holds(window, screenScale) &&
        std::fabs(ui->GetDrawScale() - DrawScaleFor(window.width, window.height, screenScale)) <= kRedrawThreshold)
      return mKeptEditorSize.state;
    return SavedSizeWithEditor(ui->Width(), ui->Height(), ui->GetDrawScale());
  }
  if (mKeptEditorSize.Holds(window, mScreenScale))
    return mKeptEditorSize.state;
  return SavedSizeWithoutEditor(mEditorWidth, mEditorHeight, mScreenScale);
}
