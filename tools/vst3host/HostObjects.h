#pragma once
// The objects a host hands to a plug-in: host context, component handler,
// parameter change lists and a memory stream.

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mvhost {

using Steinberg::int32;
using Steinberg::int64;
using Steinberg::tresult;
using Steinberg::uint32;

// Text into a VST3 string one byte per unit (ASCII as it is), cut to fit and
// always terminated.
void WidenToString128(std::string_view text, Steinberg::Vst::String128 out);

// IHostApplication: names the host and makes messages (IMessage) for
// plug-ins whose parts talk through connection points.
class HostApplication final : public Steinberg::Vst::IHostApplication {
public:
    explicit HostApplication(std::string name = "mvhost");

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override;
    uint32 PLUGIN_API release() override;

    tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;
    tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid, void** obj) override;

private:
    ~HostApplication() = default;
    std::atomic<uint32> mRefs{1};
    std::string mName;
};

// One parameter edit reported by the plug-in's controller.
struct ParameterEdit {
    Steinberg::Vst::ParamID id = 0;
    double value = 0.0;
};

// IComponentHandler and IComponentHandler2: records what the controller tells the
// host, so edits can be forwarded to the processor on the next block and inspected
// by tests, and counts the times the plug-in says its state changed.
class ComponentHandler final : public Steinberg::Vst::IComponentHandler,
                               public Steinberg::Vst::IComponentHandler2 {
public:
    ComponentHandler() = default;

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override;
    uint32 PLUGIN_API release() override;

    tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override;
    tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id,
                                   Steinberg::Vst::ParamValue valueNormalized) override;
    tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override;
    tresult PLUGIN_API restartComponent(int32 flags) override;

    tresult PLUGIN_API setDirty(Steinberg::TBool state) override;
    tresult PLUGIN_API requestOpenEditor(Steinberg::FIDString name) override;
    tresult PLUGIN_API startGroupEdit() override;
    tresult PLUGIN_API finishGroupEdit() override;

    // Edits performed since the last call, oldest first.
    std::vector<ParameterEdit> TakeEdits();
    int32 RestartFlags() const { return mRestartFlags.load(); }
    int OpenGestures() const { return mOpenGestures.load(); }
    // setDirty(true) calls so far: the session would now need saving.
    int DirtyMarks() const { return mDirtyMarks.load(); }

private:
    ~ComponentHandler() = default;
    std::atomic<uint32> mRefs{1};
    std::mutex mMutex;
    std::vector<ParameterEdit> mEdits;
    std::atomic<int32> mRestartFlags{0};
    std::atomic<int> mOpenGestures{0};
    std::atomic<int> mDirtyMarks{0};
};

// IParamValueQueue for one parameter; points kept sorted by sample offset.
// Owned by its ParameterChanges: reference counting never deletes it.
class ParamValueQueue final : public Steinberg::Vst::IParamValueQueue {
public:
    explicit ParamValueQueue(Steinberg::Vst::ParamID id = 0) : mId(id) {}

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return mId; }
    int32 PLUGIN_API getPointCount() override { return static_cast<int32>(mPoints.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset,
                                Steinberg::Vst::ParamValue& value) override;
    tresult PLUGIN_API addPoint(int32 sampleOffset, Steinberg::Vst::ParamValue value,
                                int32& index) override;

    void Reset(Steinberg::Vst::ParamID id);

private:
    Steinberg::Vst::ParamID mId;
    std::vector<std::pair<int32, double>> mPoints;
};

// IParameterChanges: one queue per parameter id for one block. Stack- or
// member-owned by the host; reference counting never deletes it.
class ParameterChanges final : public Steinberg::Vst::IParameterChanges {
public:
    ParameterChanges() = default;
    ParameterChanges(const ParameterChanges&) = delete;
    ParameterChanges& operator=(const ParameterChanges&) = delete;

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

    int32 PLUGIN_API getParameterCount() override { return mUsed; }
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData(
        const Steinberg::Vst::ParamID& id, int32& index) override;

    // Convenience for the host: one point for a parameter at an offset.
    void Add(Steinberg::Vst::ParamID id, double normalized, int32 sampleOffset = 0);
    void Clear() { mUsed = 0; }

private:
    // Queues are reused between blocks; mUsed of them are live. A deque
    // keeps queues handed out earlier in place while more are added.
    std::deque<ParamValueQueue> mQueues;
    int32 mUsed = 0;
};

// IBStream over a byte vector, as hosts use for state chunks. Writes that
// would grow it past kMaxStreamBytes are refused, so a runaway plug-in
// cannot exhaust the host's memory.
class MemoryStream final : public Steinberg::IBStream, public Steinberg::ISizeableStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : mData(std::move(bytes)) {}

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override;
    uint32 PLUGIN_API release() override;

    tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) override;
    tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override;
    tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override;
    tresult PLUGIN_API tell(int64* pos) override;
    tresult PLUGIN_API getStreamSize(int64& size) override;
    tresult PLUGIN_API setStreamSize(int64 size) override;

    static constexpr int64 kMaxStreamBytes = int64{256} << 20;

    const std::vector<std::uint8_t>& Data() const { return mData; }
    int64 Position() const { return mPos; }

private:
    // Heap only: the last release deletes it.
    ~MemoryStream() = default;
    std::atomic<uint32> mRefs{1};
    std::vector<std::uint8_t> mData;
    int64 mPos = 0;
};

} // namespace mvhost
