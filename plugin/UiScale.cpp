#include "UiScale.h"

#include "AccentColours.h"
#include "EditorSizing.h"
#include "IGraphics.h"
#include "Morvellan.h"

#include <algorithm>

void SetUiScale(Morvellan& plug, float scale)
{
  const morvellan::ScaledEditorSize asked = morvellan::EditorSizeForScale(scale);
  int width = asked.width;
  int height = asked.height;
  plug.ConstrainEditorResize(width, height);
  // Without an open editor nothing more happens: the restored state already set
  // the size the editor opens at.
  iplug::igraphics::IGraphics* ui = plug.GetUI();
  if (!ui)
    return;
  const float drawScale = std::min(float(height) / float(morvellan::sizing::kCanvasHeight),
                                   float(width) / float(morvellan::sizing::kCanvasWidth));
  ui->Resize(morvellan::sizing::kCanvasWidth, morvellan::sizing::kCanvasHeight, drawScale, true);
}

float GetUiScale(const Morvellan& plug)
{
  if (const iplug::igraphics::IGraphics* ui = plug.GetUI())
    return morvellan::UiScaleOfWindow(float(ui->Width()), ui->GetDrawScale());
  return morvellan::UiScaleWithoutEditor(plug.GetEditorWidth(), plug.mScreenScale);
}
