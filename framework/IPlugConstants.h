#pragma once

namespace iplug
{

// Where a parameter change came from; passed to OnParamChange / OnParamChangeUI.
enum EParamSource
{
  kReset,
  kHost,
  kPresetRecall,
  kUI,
  kDelegate,
  kRecompile,
  kUnknown
};

enum ERoute
{
  kInput = 0,
  kOutput = 1
};

enum EIPlugPluginType
{
  kEffect = 0,
  kInstrument = 1,
  kMIDIEffect = 2
};

// Message tag a sender uses when it hands its data to a control.
constexpr int kUpdateMessage = 0;

// A control tag that names no control.
constexpr int kNoTag = -1;

// The sample type the audio callback sees (32-bit host buffers are converted).
using sample = double;

} // namespace iplug
