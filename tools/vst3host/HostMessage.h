#pragma once
// Messages from the host to a plug-in through IConnectionPoint::notify, the
// VST3 route for requests that have no interface call of their own.

#include <pluginterfaces/vst/ivstattributes.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <atomic>
#include <map>
#include <string>

namespace mvhost {

class PluginInstance;

// IAttributeList holding values by ID; the plug-in may write answers into it.
class AttributeList final : public Steinberg::Vst::IAttributeList {
public:
    AttributeList() = default;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
    Steinberg::uint32 PLUGIN_API addRef() override;
    Steinberg::uint32 PLUGIN_API release() override;

    Steinberg::tresult PLUGIN_API setInt(AttrID id, Steinberg::int64 value) override;
    Steinberg::tresult PLUGIN_API getInt(AttrID id, Steinberg::int64& value) override;
    Steinberg::tresult PLUGIN_API setFloat(AttrID id, double value) override;
    Steinberg::tresult PLUGIN_API getFloat(AttrID id, double& value) override;
    Steinberg::tresult PLUGIN_API setString(AttrID id, const Steinberg::Vst::TChar* string) override;
    Steinberg::tresult PLUGIN_API getString(AttrID id, Steinberg::Vst::TChar* string,
                                            Steinberg::uint32 sizeInBytes) override;
    Steinberg::tresult PLUGIN_API setBinary(AttrID id, const void* data, Steinberg::uint32 sizeInBytes) override;
    Steinberg::tresult PLUGIN_API getBinary(AttrID id, const void*& data, Steinberg::uint32& sizeInBytes) override;

    // Binary attributes as byte strings (UTF-8 text by convention).
    void SetText(const std::string& id, const std::string& text) { mBinaries[id] = text; }
    bool GetText(const std::string& id, std::string& text) const;

private:
    std::atomic<Steinberg::uint32> mRefs{1};
    std::map<std::string, Steinberg::int64> mInts;
    std::map<std::string, double> mFloats;
    std::map<std::string, std::u16string> mStrings;
    std::map<std::string, std::string> mBinaries;
};

// A message the host makes for a plug-in (IHostApplication::createInstance),
// owning its attributes; the last release deletes it.
Steinberg::Vst::IMessage* NewHostMessage();

// Sends a message with these attributes to the plug-in's component. The
// plug-in's answer: kResultOk when it handled the message.
Steinberg::tresult SendMessage(PluginInstance& instance, const char* id, AttributeList& attributes);

} // namespace mvhost
