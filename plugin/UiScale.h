#pragma once

class Morvellan;

// The editor's window scale (canvas 720 x 532 times the user's draw scale).
// UI thread only.
void SetUiScale(Morvellan& plug, float scale);
float GetUiScale(const Morvellan& plug);
