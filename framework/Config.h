#pragma once

namespace iplug
{

// What a plug-in tells the framework about itself, in this field order.
struct Config
{
  int nParams = 0;
  int nPresets = 1;
  const char* channelIOStr = "2-2";
  const char* pluginName = "";
  const char* productName = "";
  const char* mfrName = "";
  int vendorVersion = 0;
  int uniqueID = 0;
  int mfrID = 0;
  int latency = 0;
  bool plugDoesMidiIn = false;
  bool plugDoesMidiOut = false;
  bool plugDoesMPE = false;
  bool plugDoesChunks = true;
  int plugType = 0;
  bool plugHasUI = false;
  int plugWidth = 0;
  int plugHeight = 0;
  int plugMinWidth = 0;
  int plugMaxWidth = 0;
  int plugMinHeight = 0;
  int plugMaxHeight = 0;
  bool plugHostResize = false;
  const char* bundleID = "";
  const char* appGroupID = "";
};

// Per-instance information the factory hands to a plug-in's constructor.
struct InstanceInfo
{
  void* hostContext = nullptr;
};

} // namespace iplug
