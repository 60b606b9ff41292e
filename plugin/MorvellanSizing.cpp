#include "Morvellan.h"

#include "EditorSizing.h"

float Morvellan::CurrentScreenScale() const
{
  // With no window of our own yet, the last scale seen stands for the screen's.
  return mScreenScale;
}

bool Morvellan::ConstrainEditorResize(int& width, int& height) const
{
  return morvellan::sizing::ConstrainEditorSize(width, height, CurrentScreenScale());
}

void Morvellan::OnParentWindowResize(int width, int height)
{
  // Only an open editor follows the host's window; there is none without a graphics context.
  if (!GetUI())
    return;
  ConstrainEditorResize(width, height);
  mEditorWidth = width;
  mEditorHeight = height;
}
