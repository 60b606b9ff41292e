#include "Module.h"

#include "PluginInstance.h"

#include <pluginterfaces/base/funknown.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace mvhost {

using namespace Steinberg;

namespace {

using ModuleEntryFn = bool (*)(void*);
using ModuleExitFn = bool (*)();
using GetFactoryFn = IPluginFactory* (*)();

// Fixed-size char fields from the factory, which need not be terminated.
std::string FromField(const char8* text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

} // namespace

std::string FormatClassId(const std::array<std::uint8_t, 16>& cid)
{
    TUID tuid;
    std::memcpy(tuid, cid.data(), 16);
    const FUID fuid = FUID::fromTUID(tuid);
    char text[64];
    std::snprintf(text, sizeof text, "%08X %08X %08X %08X", fuid.getLong1(), fuid.getLong2(),
                  fuid.getLong3(), fuid.getLong4());
    return text;
}

std::filesystem::path BinaryPathOf(const std::filesystem::path& bundle)
{
    if (bundle.extension() == ".so") {
        return bundle;
    }
    std::filesystem::path name = bundle.filename();
    if (name.empty()) {
        name = bundle.parent_path().filename();
    }
    return bundle / "Contents" / "x86_64-linux" / name.replace_extension(".so");
}

std::unique_ptr<Module> Module::Load(const std::filesystem::path& bundle, std::string& error)
{
    const std::filesystem::path binary = BinaryPathOf(bundle);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(binary, ec)) {
        error = "no plug-in binary at " + binary.string();
        return nullptr;
    }
    std::unique_ptr<Module> module(new Module());
    module->mHandle = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module->mHandle == nullptr) {
        const char* why = dlerror();
        error = "could not load " + binary.string() + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    auto entry = reinterpret_cast<ModuleEntryFn>(dlsym(module->mHandle, "ModuleEntry"));
    if (entry == nullptr) {
        error = binary.string() + " does not export ModuleEntry";
        return nullptr;
    }
    if (!entry(module->mHandle)) {
        error = "ModuleEntry of " + binary.string() + " failed";
        return nullptr;
    }
    module->mEntered = true;
    auto getFactory = reinterpret_cast<GetFactoryFn>(dlsym(module->mHandle, "GetPluginFactory"));
    if (getFactory == nullptr) {
        error = binary.string() + " does not export GetPluginFactory";
        return nullptr;
    }
    // GetPluginFactory hands over one reference.
    module->mFactory = owned(getFactory());
    if (!module->mFactory) {
        error = "GetPluginFactory of " + binary.string() + " returned nothing";
        return nullptr;
    }
    if (!module->ReadFactory(error)) {
        return nullptr;
    }
    return module;
}

Module::~Module()
{
    mClasses.clear();
    mFactory = nullptr;
    if (mHandle != nullptr) {
        if (mEntered) {
            auto exit = reinterpret_cast<ModuleExitFn>(dlsym(mHandle, "ModuleExit"));
            if (exit != nullptr) {
                exit();
            }
        }
        dlclose(mHandle);
    }
}

bool Module::ReadFactory(std::string& error)
{
    PFactoryInfo info{};
    if (mFactory->getFactoryInfo(&info) != kResultOk) {
        error = "the factory gives no factory information";
        return false;
    }
    mInfo.vendor = FromField(info.vendor, PFactoryInfo::kNameSize);
    mInfo.url = FromField(info.url, PFactoryInfo::kURLSize);
    mInfo.email = FromField(info.email, PFactoryInfo::kEmailSize);
    mInfo.flags = info.flags;

    FUnknownPtr<IPluginFactory2> factory2(mFactory.get());
    const int32 count = mFactory->countClasses();
    for (int32 i = 0; i < count; ++i) {
        PClassInfo raw{};
        if (mFactory->getClassInfo(i, &raw) != kResultOk) {
            continue;
        }
        ClassInfo c;
        std::memcpy(c.cid.data(), raw.cid, 16);
        c.name = FromField(raw.name, PClassInfo::kNameSize);
        c.category = FromField(raw.category, PClassInfo::kCategorySize);
        c.cardinality = raw.cardinality;
        PClassInfo2 raw2{};
        if (factory2 && factory2->getClassInfo2(i, &raw2) == kResultOk) {
            c.hasInfo2 = true;
            c.subCategories = FromField(raw2.subCategories, PClassInfo2::kSubCategoriesSize);
            c.vendor = FromField(raw2.vendor, PClassInfo2::kVendorSize);
            c.version = FromField(raw2.version, PClassInfo2::kVersionSize);
            c.sdkVersion = FromField(raw2.sdkVersion, PClassInfo2::kVersionSize);
            c.classFlags = raw2.classFlags;
        }
        mClasses.push_back(std::move(c));
    }
    return true;
}

const ClassInfo* Module::FirstAudioClass() const
{
    for (const auto& c : mClasses) {
        if (c.category == kVstAudioEffectClass) {
            return &c;
        }
    }
    return nullptr;
}

const ClassInfo* Module::FindClass(const std::string& name) const
{
    for (const auto& c : mClasses) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

std::unique_ptr<PluginInstance> Module::CreateInstance(const ClassInfo& info,
                                                       std::string& error) const
{
    IPtr<HostApplication> host = owned(new HostApplication());
    IPtr<ComponentHandler> handler = owned(new ComponentHandler());
    if (FUnknownPtr<IPluginFactory3> factory3(mFactory.get()); factory3) {
        factory3->setHostContext(host.get());
    }

    TUID cid;
    std::memcpy(cid, info.cid.data(), 16);
    void* obj = nullptr;
    if (mFactory->createInstance(cid, Vst::IComponent::iid, &obj) != kResultOk || obj == nullptr) {
        error = "the factory could not create " + info.name;
        return nullptr;
    }
    IPtr<Vst::IComponent> component = owned(static_cast<Vst::IComponent*>(obj));
    if (component->initialize(host.get()) != kResultOk) {
        error = info.name + " refused to initialise";
        component->terminate();
        return nullptr;
    }
    if (!FUnknownPtr<Vst::IAudioProcessor>(component.get())) {
        error = info.name + " has no audio processor";
        component->terminate();
        return nullptr;
    }

    IPtr<Vst::IEditController> controller;
    bool single = false;
    if (FUnknownPtr<Vst::IEditController> same(component.get()); same) {
        controller = same.getInterface();
        single = true;
    } else {
        TUID controllerCid{};
        if (component->getControllerClassId(controllerCid) == kResultOk) {
            void* cobj = nullptr;
            if (mFactory->createInstance(controllerCid, Vst::IEditController::iid, &cobj) ==
                    kResultOk &&
                cobj != nullptr) {
                controller = owned(static_cast<Vst::IEditController*>(cobj));
                if (controller->initialize(host.get()) != kResultOk) {
                    controller->terminate();
                    controller = nullptr;
                }
            }
        }
    }
    return std::make_unique<PluginInstance>(std::move(component), std::move(controller), single,
                                            std::move(host), std::move(handler));
}

} // namespace mvhost
