#pragma once

// The worker that chooses system fonts for the characters our own faces lack (see
// FontStore). Text drawn before its font was chosen used a stand-in; the graphics context
// redraws it once the worker has moved on.

#include <chrono>

namespace iplug::igraphics
{

// Counts the choices the worker has published, process-wide. The UI thread polls it.
unsigned FallbackFontsGeneration();

// Waits until every character asked for so far has its font, at most timeout; false on
// timeout. Never for a frame: for a picture drawn once (a snapshot) and tests.
bool WaitForFallbackFonts(std::chrono::milliseconds timeout);

// For tests: while held, the worker neither scans nor chooses, and every character not
// chosen before keeps its stand-in.
void HoldFallbackFontWorker(bool hold);

} // namespace iplug::igraphics
