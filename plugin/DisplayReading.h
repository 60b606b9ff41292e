#pragma once

#include "ToneDisplayControl.h"

class Morvellan;

// Fills the tone display's reading from what the audio thread and the reference-file worker
// published and from a few parameters. UI thread; takes the plug-in mutex once, for the names.
void FillToneDisplayReading(Morvellan& plug, ToneDisplayControl::Reading& reading);
