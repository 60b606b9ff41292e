#include "UiScale.h"

#include "AccentColours.h"
#include "Morvellan.h"

void SetUiScale(Morvellan& plug, float scale)
{
  const morvellan::ScaledEditorSize asked = morvellan::EditorSizeForScale(scale);
  int width = asked.width;
  int height = asked.height;
  plug.ConstrainEditorResize(width, height);
  // Without an open editor nothing more happens: the restored state already set
  // the size the editor opens at. Resizing an open window belongs to the editor.
}

float GetUiScale(const Morvellan& plug)
{
  return morvellan::UiScaleWithoutEditor(plug.GetEditorWidth(), plug.mScreenScale);
}
