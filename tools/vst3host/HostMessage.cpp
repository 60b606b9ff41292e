#include "HostMessage.h"

#include "PluginInstance.h"

#include <pluginterfaces/base/smartpointer.h>

#include <cstring>
#include <utility>

namespace mvhost {

using Steinberg::FUnknownPrivate::iidEqual;
using Steinberg::kInvalidArgument;
using Steinberg::kNoInterface;
using Steinberg::kResultFalse;
using Steinberg::kResultOk;
using Steinberg::tresult;
using Steinberg::uint32;

namespace {

// What every host-made message shares: its ID and the usual interface query.
class MessageBase : public Steinberg::Vst::IMessage {
public:
    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override
    {
        if (obj == nullptr) {
            return kInvalidArgument;
        }
        if (iidEqual(iid, Steinberg::Vst::IMessage::iid) || iidEqual(iid, Steinberg::FUnknown::iid)) {
            addRef();
            *obj = static_cast<Steinberg::Vst::IMessage*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++mRefs; }

    Steinberg::FIDString PLUGIN_API getMessageID() override { return mId.c_str(); }
    void PLUGIN_API setMessageID(Steinberg::FIDString id) override { mId = id != nullptr ? id : ""; }

protected:
    explicit MessageBase(std::string id = {}) : mId(std::move(id)) {}
    ~MessageBase() = default;

    std::atomic<uint32> mRefs{1};
    std::string mId;
};

// IMessage around a caller-owned attribute list; lives on the caller's stack.
class Message final : public MessageBase {
public:
    Message(const char* id, AttributeList& attributes) : MessageBase(id), mAttributes(attributes) {}

    uint32 PLUGIN_API release() override { return --mRefs; }
    Steinberg::Vst::IAttributeList* PLUGIN_API getAttributes() override { return &mAttributes; }

private:
    AttributeList& mAttributes;
};

// Heap message with its own attribute list, for plug-ins that ask the host
// for one.
class OwnedMessage final : public MessageBase {
public:
    uint32 PLUGIN_API release() override
    {
        const uint32 left = --mRefs;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    Steinberg::Vst::IAttributeList* PLUGIN_API getAttributes() override { return &mAttributes; }

private:
    ~OwnedMessage() = default;
    AttributeList mAttributes;
};

template <typename Map, typename Value>
tresult Find(const Map& map, const char* id, Value& value)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    auto it = map.find(id);
    if (it == map.end()) {
        return kResultFalse;
    }
    value = it->second;
    return kResultOk;
}

} // namespace

tresult PLUGIN_API AttributeList::queryInterface(const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr) {
        return kInvalidArgument;
    }
    if (iidEqual(iid, Steinberg::Vst::IAttributeList::iid) || iidEqual(iid, Steinberg::FUnknown::iid)) {
        addRef();
        *obj = static_cast<Steinberg::Vst::IAttributeList*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

// Owned by the caller; the count only keeps the plug-in's references honest.
uint32 PLUGIN_API AttributeList::addRef() { return ++mRefs; }
uint32 PLUGIN_API AttributeList::release() { return --mRefs; }

tresult PLUGIN_API AttributeList::setInt(AttrID id, Steinberg::int64 value)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    mInts[id] = value;
    return kResultOk;
}

tresult PLUGIN_API AttributeList::getInt(AttrID id, Steinberg::int64& value) { return Find(mInts, id, value); }

tresult PLUGIN_API AttributeList::setFloat(AttrID id, double value)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    mFloats[id] = value;
    return kResultOk;
}

tresult PLUGIN_API AttributeList::getFloat(AttrID id, double& value) { return Find(mFloats, id, value); }

tresult PLUGIN_API AttributeList::setString(AttrID id, const Steinberg::Vst::TChar* string)
{
    if (id == nullptr || string == nullptr) {
        return kInvalidArgument;
    }
    mStrings[id] = std::u16string(reinterpret_cast<const char16_t*>(string));
    return kResultOk;
}

tresult PLUGIN_API AttributeList::getString(AttrID id, Steinberg::Vst::TChar* string, uint32 sizeInBytes)
{
    std::u16string text;
    const tresult found = Find(mStrings, id, text);
    if (found != kResultOk) {
        return found;
    }
    const size_t room = sizeInBytes / sizeof(Steinberg::Vst::TChar);
    if (string == nullptr || room == 0) {
        return kInvalidArgument;
    }
    const size_t count = std::min(text.size(), room - 1);
    std::memcpy(string, text.data(), count * sizeof(Steinberg::Vst::TChar));
    string[count] = 0;
    return kResultOk;
}

tresult PLUGIN_API AttributeList::setBinary(AttrID id, const void* data, uint32 sizeInBytes)
{
    if (id == nullptr || (data == nullptr && sizeInBytes > 0)) {
        return kInvalidArgument;
    }
    mBinaries[id] = std::string(static_cast<const char*>(data), sizeInBytes);
    return kResultOk;
}

tresult PLUGIN_API AttributeList::getBinary(AttrID id, const void*& data, uint32& sizeInBytes)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    auto it = mBinaries.find(id);
    if (it == mBinaries.end()) {
        return kResultFalse;
    }
    data = it->second.data();
    sizeInBytes = static_cast<uint32>(it->second.size());
    return kResultOk;
}

bool AttributeList::GetText(const std::string& id, std::string& text) const
{
    auto it = mBinaries.find(id);
    if (it == mBinaries.end()) {
        return false;
    }
    text = it->second;
    return true;
}

Steinberg::Vst::IMessage* NewHostMessage()
{
    return new OwnedMessage();
}

tresult SendMessage(PluginInstance& instance, const char* id, AttributeList& attributes)
{
    Steinberg::FUnknownPtr<Steinberg::Vst::IConnectionPoint> point(instance.Component());
    if (!point) {
        return kNoInterface;
    }
    Message message(id, attributes);
    return point->notify(&message);
}

} // namespace mvhost
