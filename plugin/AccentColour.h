#pragma once

#include "AccentColours.h"

class Morvellan;

// The colour every control draws with, for the plug-in's accent choice; choice 5
// follows the host track colour. UI thread only (it may ask REAPER).
morvellan::AccentRgb AccentColour(const Morvellan& plug);
