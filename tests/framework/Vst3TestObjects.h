#pragma once

// Minimal host-side VST3 objects for driving a plug-in in tests.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

namespace testhost
{

using namespace Steinberg;
using namespace Steinberg::Vst;

// Stack-owned objects: reference counting is a no-op.
#define TESTHOST_NO_REFCOUNT                                                                                 \
  uint32 PLUGIN_API addRef() override { return 1; }                                                          \
  uint32 PLUGIN_API release() override { return 1; }

class MemoryStream : public IBStream
{
public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<uint8_t> bytes) : data(std::move(bytes)) {}

  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  TESTHOST_NO_REFCOUNT

  tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override
  {
    const int64 n = std::max<int64>(0, std::min<int64>(numBytes, static_cast<int64>(data.size()) - pos));
    if (n > 0)
      std::memcpy(buffer, data.data() + pos, static_cast<size_t>(n));
    pos += n;
    if (numBytesRead)
      *numBytesRead = static_cast<int32>(n);
    return kResultOk;
  }
  tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override
  {
    if (numBytes < 0)
      return kInvalidArgument;
    const int32 n = maxWrite >= 0 ? std::min(numBytes, maxWrite) : numBytes;
    if (data.size() < static_cast<size_t>(pos + n))
      data.resize(static_cast<size_t>(pos + n));
    std::memcpy(data.data() + pos, buffer, static_cast<size_t>(n));
    pos += n;
    if (numBytesWritten)
      *numBytesWritten = n;
    return kResultOk;
  }
  tresult PLUGIN_API seek(int64 offset, int32 mode, int64* result) override
  {
    int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? pos : static_cast<int64>(data.size());
    pos = std::clamp<int64>(base + offset, 0, static_cast<int64>(data.size()));
    if (result)
      *result = pos;
    return kResultOk;
  }
  tresult PLUGIN_API tell(int64* result) override
  {
    if (result)
      *result = pos;
    return kResultOk;
  }

  std::vector<uint8_t> data;
  int64 pos = 0;
  int32 maxWrite = -1; // > 0 simulates a stream that takes bytes in small pieces
};

class ValueQueue : public IParamValueQueue
{
public:
  explicit ValueQueue(ParamID paramId) : id(paramId) {}
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  TESTHOST_NO_REFCOUNT
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return static_cast<int32>(points.size()); }
  tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) override
  {
    if (index < 0 || index >= getPointCount())
      return kResultFalse;
    sampleOffset = points[static_cast<size_t>(index)].first;
    value = points[static_cast<size_t>(index)].second;
    return kResultTrue;
  }
  tresult PLUGIN_API addPoint(int32 sampleOffset, ParamValue value, int32& index) override
  {
    index = getPointCount();
    points.emplace_back(sampleOffset, value);
    return kResultTrue;
  }
  ParamID id;
  std::vector<std::pair<int32, ParamValue>> points;
};

class ParameterChanges : public IParameterChanges
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  TESTHOST_NO_REFCOUNT
  int32 PLUGIN_API getParameterCount() override { return static_cast<int32>(queues.size()); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override
  {
    return index >= 0 && index < getParameterCount() ? &queues[static_cast<size_t>(index)] : nullptr;
  }
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
  {
    index = getParameterCount();
    queues.emplace_back(id);
    return &queues.back();
  }
  void Add(ParamID id, int32 offset, ParamValue value)
  {
    int32 index;
    int32 pointIndex;
    queues.reserve(16);
    addParameterData(id, index)->addPoint(offset, value, pointIndex);
  }
  std::vector<ValueQueue> queues;
};

class AttributeList : public IAttributeList
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  TESTHOST_NO_REFCOUNT
  tresult PLUGIN_API setInt(AttrID id, int64 value) override
  {
    ints[id] = value;
    return kResultTrue;
  }
  tresult PLUGIN_API getInt(AttrID id, int64& value) override
  {
    auto it = ints.find(id);
    if (it == ints.end())
      return kResultFalse;
    value = it->second;
    return kResultTrue;
  }
  tresult PLUGIN_API setFloat(AttrID id, double value) override { return floats[id] = value, kResultTrue; }
  tresult PLUGIN_API getFloat(AttrID id, double& value) override
  {
    const auto it = floats.find(id);
    return it == floats.end() ? kResultFalse : (value = it->second, kResultTrue);
  }
  tresult PLUGIN_API setString(AttrID id, const TChar* string) override
  {
    std::u16string s;
    for (const TChar* p = string; *p; ++p)
      s += static_cast<char16_t>(*p);
    strings[id] = s;
    return kResultTrue;
  }
  tresult PLUGIN_API getString(AttrID id, TChar* string, uint32 sizeInBytes) override
  {
    auto it = strings.find(id);
    if (it == strings.end())
      return kResultFalse;
    const size_t maxChars = sizeInBytes / sizeof(TChar);
    if (maxChars == 0)
      return kResultFalse;
    const size_t n = std::min(it->second.size(), maxChars - 1);
    for (size_t i = 0; i < n; ++i)
      string[i] = static_cast<TChar>(it->second[i]);
    string[n] = 0;
    return kResultTrue;
  }
  tresult PLUGIN_API setBinary(AttrID id, const void* data, uint32 size) override
  {
    binaries[id].assign(static_cast<const char*>(data), size);
    return kResultTrue;
  }
  tresult PLUGIN_API getBinary(AttrID id, const void*& data, uint32& size) override
  {
    const auto it = binaries.find(id);
    if (it == binaries.end())
      return kResultFalse;
    data = it->second.data();
    size = static_cast<uint32>(it->second.size());
    return kResultTrue;
  }

  std::map<std::string, int64> ints;
  std::map<std::string, double> floats;
  std::map<std::string, std::string> binaries;
  std::map<std::string, std::u16string> strings;
};

class Message : public IMessage
{
public:
  explicit Message(const char* messageId) : id(messageId ? messageId : ""), hasId(messageId != nullptr) {}
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  TESTHOST_NO_REFCOUNT
  FIDString PLUGIN_API getMessageID() override { return hasId ? id.c_str() : nullptr; }
  void PLUGIN_API setMessageID(FIDString newId) override
  {
    id = newId ? newId : "";
    hasId = newId != nullptr;
  }
  IAttributeList* PLUGIN_API getAttributes() override { return &attributes; }
  std::string id;
  bool hasId;
  AttributeList attributes;
};

class RecordingHandler : public IComponentHandler
{
public:
  tresult PLUGIN_API queryInterface(const TUID, void** obj) override
  {
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return ++refs; }
  uint32 PLUGIN_API release() override { return --refs; }
  tresult PLUGIN_API beginEdit(ParamID id) override
  {
    events.push_back("begin " + std::to_string(id));
    return kResultOk;
  }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue value) override
  {
    events.push_back("perform " + std::to_string(id));
    lastValue = value;
    return kResultOk;
  }
  tresult PLUGIN_API endEdit(ParamID id) override
  {
    events.push_back("end " + std::to_string(id));
    return kResultOk;
  }
  tresult PLUGIN_API restartComponent(int32 flags) override
  {
    events.push_back("restart " + std::to_string(flags));
    return kResultOk;
  }
  std::vector<std::string> events;
  double lastValue = -1.;
  uint32 refs = 1;
};

// A handler that also hears that the state changed (IComponentHandler2). Each call's thread is kept;
// a setDirty(false) is kept as no thread, which no check expects.
class DirtyRecordingHandler : public RecordingHandler, public IComponentHandler2
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (!FUnknownPrivate::iidEqual(iid, IComponentHandler2::iid))
      return RecordingHandler::queryInterface(iid, obj);
    *obj = static_cast<IComponentHandler2*>(this);
    return addRef(), kResultOk;
  }
  uint32 PLUGIN_API addRef() override { return RecordingHandler::addRef(); }
  uint32 PLUGIN_API release() override { return RecordingHandler::release(); }
  tresult PLUGIN_API setDirty(TBool state) override
  {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(state ? std::this_thread::get_id() : std::thread::id());
    return kResultOk;
  }
  tresult PLUGIN_API requestOpenEditor(FIDString) override { return kNotImplemented; }
  tresult PLUGIN_API startGroupEdit() override { return kNotImplemented; }
  tresult PLUGIN_API finishGroupEdit() override { return kNotImplemented; }
  // The calls so far, taken out.
  std::vector<std::thread::id> Take()
  {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(calls, {});
  }
  std::mutex mutex;
  std::vector<std::thread::id> calls;
};

#undef TESTHOST_NO_REFCOUNT

// A process call's data for one input bus and one output bus, as a host fills it.
inline ProcessData OneBusProcessData(AudioBusBuffers& in, AudioBusBuffers& out, int32 sampleSize, int32 numSamples,
                                     IParameterChanges* changes = nullptr)
{
  ProcessData data{};
  data.processMode = kRealtime;
  data.symbolicSampleSize = sampleSize;
  data.numSamples = numSamples;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &in;
  data.outputs = &out;
  data.inputParameterChanges = changes;
  return data;
}

} // namespace testhost
