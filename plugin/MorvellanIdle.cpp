#include "Morvellan.h"

// UI thread, every 20 ms whether or not the editor is open.
void Morvellan::OnIdle()
{
  mInputMeterSender.TransmitData(*this);
  mOutputMeterSender.TransmitData(*this);
}
