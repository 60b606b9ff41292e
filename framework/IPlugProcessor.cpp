#include "IPlugProcessor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace iplug
{

std::vector<IOConfig> ParseChannelIOStr(const char* str)
{
  std::vector<IOConfig> configs;
  if (!str)
    return configs;
  const char* p = str;
  while (*p)
  {
    while (*p == ' ')
      ++p;
    if (!*p)
      break;
    char* end = nullptr;
    const long nIn = std::strtol(p, &end, 10);
    bool ok = end != p && *end == '-';
    long nOut = 0;
    if (ok)
    {
      const char* q = end + 1;
      nOut = std::strtol(q, &end, 10);
      ok = end != q && (*end == ' ' || *end == '\0') && nIn >= 0 && nOut >= 0 && nIn <= 64 && nOut <= 64;
    }
    if (ok)
      configs.push_back({static_cast<int>(nIn), static_cast<int>(nOut)});
    // Skip to the next entry whatever happened with this one.
    p = std::strchr(p, ' ');
    if (!p)
      break;
  }
  return configs;
}

IPlugProcessor::IPlugProcessor(const Config& config)
: mLatency(config.latency)
, mIOConfigs(ParseChannelIOStr(config.channelIOStr))
{
}

void IPlugProcessor::ProcessBlock(sample** inputs, sample** outputs, int nFrames)
{
  PassThroughBuffers(inputs, mInConnected, outputs, mOutConnected, nFrames);
}

void IPlugProcessor::PassThroughBuffers(sample** inputs, int nIn, sample** outputs, int nOut, int nFrames)
{
  if (nFrames < 1 || !outputs)
    return;
  const size_t bytes = sizeof(sample) * static_cast<size_t>(nFrames);
  for (int c = 0; c < nOut; ++c)
  {
    if (!outputs[c])
      continue;
    if (inputs && c < nIn && inputs[c])
    {
      if (inputs[c] != outputs[c])
        std::memmove(outputs[c], inputs[c], bytes);
    }
    else
      std::fill(outputs[c], outputs[c] + nFrames, 0.);
  }
}

} // namespace iplug
