#include "HostObjects.h"

#include "HostMessage.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace mvhost {

using Steinberg::FUnknownPrivate::iidEqual;
using Steinberg::kInvalidArgument;
using Steinberg::kNoInterface;
using Steinberg::kResultFalse;
using Steinberg::kResultOk;
using Steinberg::kResultTrue;

namespace {

template <typename Interface, typename Self>
bool Answer(const Steinberg::TUID iid, Self* self, void** obj)
{
    if (!iidEqual(iid, Interface::iid)) {
        return false;
    }
    self->addRef();
    *obj = static_cast<Interface*>(self);
    return true;
}

} // namespace

void WidenToString128(std::string_view text, Steinberg::Vst::String128 out)
{
    size_t i = 0;
    for (; i < text.size() && i < 127; ++i) {
        out[i] = static_cast<Steinberg::Vst::TChar>(static_cast<unsigned char>(text[i]));
    }
    out[i] = 0;
}

// HostApplication

HostApplication::HostApplication(std::string name) : mName(std::move(name)) {}

tresult PLUGIN_API HostApplication::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (Answer<Steinberg::Vst::IHostApplication>(iid, this, obj)) {
        return kResultOk;
    }
    if (iidEqual(iid, Steinberg::FUnknown::iid)) {
        addRef();
        *obj = static_cast<Steinberg::FUnknown*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API HostApplication::addRef() { return ++mRefs; }

uint32 PLUGIN_API HostApplication::release()
{
    const uint32 left = --mRefs;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult PLUGIN_API HostApplication::getName(Steinberg::Vst::String128 name)
{
    if (name == nullptr) {
        return kInvalidArgument;
    }
    WidenToString128(mName, name);
    return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(Steinberg::TUID cid, Steinberg::TUID iid,
                                                   void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    *obj = nullptr;
    // Messages are the one thing plug-ins ask hosts to make.
    if (cid != nullptr && iid != nullptr && iidEqual(cid, Steinberg::Vst::IMessage::iid) &&
        iidEqual(iid, Steinberg::Vst::IMessage::iid)) {
        *obj = NewHostMessage();
        return kResultOk;
    }
    return kResultFalse;
}

// ComponentHandler

tresult PLUGIN_API ComponentHandler::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (Answer<Steinberg::Vst::IComponentHandler>(iid, this, obj) ||
        Answer<Steinberg::Vst::IComponentHandler2>(iid, this, obj)) {
        return kResultOk;
    }
    if (iidEqual(iid, Steinberg::FUnknown::iid)) {
        addRef();
        *obj = static_cast<Steinberg::FUnknown*>(static_cast<Steinberg::Vst::IComponentHandler*>(this));
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API ComponentHandler::addRef() { return ++mRefs; }

uint32 PLUGIN_API ComponentHandler::release()
{
    const uint32 left = --mRefs;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult PLUGIN_API ComponentHandler::beginEdit(Steinberg::Vst::ParamID)
{
    ++mOpenGestures;
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(Steinberg::Vst::ParamID id,
                                                 Steinberg::Vst::ParamValue valueNormalized)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mEdits.push_back({id, valueNormalized});
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(Steinberg::Vst::ParamID)
{
    --mOpenGestures;
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags)
{
    mRestartFlags |= flags;
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::setDirty(Steinberg::TBool state)
{
    if (state) {
        ++mDirtyMarks;
    }
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::requestOpenEditor(Steinberg::FIDString)
{
    return Steinberg::kNotImplemented;
}

tresult PLUGIN_API ComponentHandler::startGroupEdit()
{
    return Steinberg::kNotImplemented;
}

tresult PLUGIN_API ComponentHandler::finishGroupEdit()
{
    return Steinberg::kNotImplemented;
}

std::vector<ParameterEdit> ComponentHandler::TakeEdits()
{
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<ParameterEdit> out;
    out.swap(mEdits);
    return out;
}

// ParamValueQueue

tresult PLUGIN_API ParamValueQueue::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (iidEqual(iid, Steinberg::Vst::IParamValueQueue::iid) ||
        iidEqual(iid, Steinberg::FUnknown::iid)) {
        *obj = static_cast<Steinberg::Vst::IParamValueQueue*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32& sampleOffset,
                                             Steinberg::Vst::ParamValue& value)
{
    if (index < 0 || static_cast<size_t>(index) >= mPoints.size()) {
        return kInvalidArgument;
    }
    sampleOffset = mPoints[static_cast<size_t>(index)].first;
    value = mPoints[static_cast<size_t>(index)].second;
    return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, Steinberg::Vst::ParamValue value,
                                             int32& index)
{
    auto at = std::lower_bound(mPoints.begin(), mPoints.end(), sampleOffset,
                               [](const auto& p, int32 offset) { return p.first < offset; });
    if (at != mPoints.end() && at->first == sampleOffset) {
        // A second value at the same offset replaces the first.
        at->second = value;
    } else {
        at = mPoints.insert(at, {sampleOffset, value});
    }
    index = static_cast<int32>(at - mPoints.begin());
    return kResultOk;
}

void ParamValueQueue::Reset(Steinberg::Vst::ParamID id)
{
    mId = id;
    mPoints.clear();
}

// ParameterChanges

tresult PLUGIN_API ParameterChanges::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (iidEqual(iid, Steinberg::Vst::IParameterChanges::iid) ||
        iidEqual(iid, Steinberg::FUnknown::iid)) {
        *obj = static_cast<Steinberg::Vst::IParameterChanges*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

Steinberg::Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index)
{
    if (index < 0 || index >= mUsed) {
        return nullptr;
    }
    return &mQueues[static_cast<size_t>(index)];
}

Steinberg::Vst::IParamValueQueue* PLUGIN_API
ParameterChanges::addParameterData(const Steinberg::Vst::ParamID& id, int32& index)
{
    for (int32 i = 0; i < mUsed; ++i) {
        if (mQueues[static_cast<size_t>(i)].getParameterId() == id) {
            index = i;
            return &mQueues[static_cast<size_t>(i)];
        }
    }
    if (static_cast<size_t>(mUsed) == mQueues.size()) {
        mQueues.emplace_back(id);
    }
    mQueues[static_cast<size_t>(mUsed)].Reset(id);
    index = mUsed++;
    return &mQueues[static_cast<size_t>(index)];
}

void ParameterChanges::Add(Steinberg::Vst::ParamID id, double normalized, int32 sampleOffset)
{
    int32 index = 0;
    auto* queue = addParameterData(id, index);
    int32 pointIndex = 0;
    queue->addPoint(sampleOffset, normalized, pointIndex);
}

// MemoryStream

tresult PLUGIN_API MemoryStream::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (Answer<Steinberg::IBStream>(iid, this, obj) ||
        Answer<Steinberg::ISizeableStream>(iid, this, obj)) {
        return kResultOk;
    }
    if (iidEqual(iid, Steinberg::FUnknown::iid)) {
        addRef();
        *obj = static_cast<Steinberg::IBStream*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API MemoryStream::addRef() { return ++mRefs; }

uint32 PLUGIN_API MemoryStream::release()
{
    const uint32 left = --mRefs;
    if (left == 0) {
        delete this;
    }
    return left;
}

tresult PLUGIN_API MemoryStream::read(void* buffer, int32 numBytes, int32* numBytesRead)
{
    if (numBytesRead != nullptr) {
        *numBytesRead = 0;
    }
    if (numBytes < 0 || (buffer == nullptr && numBytes > 0)) {
        return kInvalidArgument;
    }
    const int64 size = static_cast<int64>(mData.size());
    const int64 available = mPos < size ? size - mPos : 0;
    const int64 count = std::min<int64>(numBytes, available);
    if (count > 0) {
        std::memcpy(buffer, mData.data() + mPos, static_cast<size_t>(count));
        mPos += count;
    }
    if (numBytesRead != nullptr) {
        *numBytesRead = static_cast<int32>(count);
    }
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::write(void* buffer, int32 numBytes, int32* numBytesWritten)
{
    if (numBytesWritten != nullptr) {
        *numBytesWritten = 0;
    }
    if (numBytes < 0 || (buffer == nullptr && numBytes > 0)) {
        return kInvalidArgument;
    }
    const int64 end = mPos + numBytes;
    if (end > kMaxStreamBytes) {
        return Steinberg::kOutOfMemory;
    }
    if (end > static_cast<int64>(mData.size())) {
        mData.resize(static_cast<size_t>(end));
    }
    if (numBytes > 0) {
        std::memcpy(mData.data() + mPos, buffer, static_cast<size_t>(numBytes));
    }
    mPos = end;
    if (numBytesWritten != nullptr) {
        *numBytesWritten = numBytes;
    }
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek(int64 pos, int32 mode, int64* result)
{
    int64 base = 0;
    switch (mode) {
    case kIBSeekSet: base = 0; break;
    case kIBSeekCur: base = mPos; break;
    case kIBSeekEnd: base = static_cast<int64>(mData.size()); break;
    default: return kInvalidArgument;
    }
    // Refuse positions before the start and sums that would overflow.
    if ((pos > 0 && base > std::numeric_limits<int64>::max() - pos) || base + pos < 0) {
        return kInvalidArgument;
    }
    mPos = base + pos;
    if (result != nullptr) {
        *result = mPos;
    }
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell(int64* pos)
{
    if (pos == nullptr) {
        return kInvalidArgument;
    }
    *pos = mPos;
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::getStreamSize(int64& size)
{
    size = static_cast<int64>(mData.size());
    return kResultOk;
}

tresult PLUGIN_API MemoryStream::setStreamSize(int64 size)
{
    if (size < 0) {
        return kInvalidArgument;
    }
    if (size > kMaxStreamBytes) {
        return Steinberg::kOutOfMemory;
    }
    mData.resize(static_cast<size_t>(size));
    return kResultOk;
}

} // namespace mvhost
