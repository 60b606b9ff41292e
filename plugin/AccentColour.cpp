#include "AccentColour.h"

#include "Morvellan.h"

morvellan::AccentRgb AccentColour(const Morvellan& plug)
{
  const int index = plug.mAccentIndex.load();
  if (index != morvellan::kHostAccentIndex)
    return morvellan::AccentRgbFor(index, -1);
  return morvellan::AccentRgbFor(index, plug.ReadHostTrackColour());
}
