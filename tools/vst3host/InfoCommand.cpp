// mvhost info: factory and class information and the parameter list.

#include "CommandLine.h"
#include "Commands.h"
#include "PluginInstance.h"

#include <cstdio>

namespace mvhost::cli {

namespace {

std::string FlagNames(int32 flags)
{
    std::string out;
    auto add = [&](int32 bit, const char* name) {
        if ((flags & bit) != 0) {
            out += out.empty() ? "" : ",";
            out += name;
        }
    };
    add(Steinberg::Vst::ParameterInfo::kCanAutomate, "automate");
    add(Steinberg::Vst::ParameterInfo::kIsReadOnly, "read-only");
    add(Steinberg::Vst::ParameterInfo::kIsWrapAround, "wrap");
    add(Steinberg::Vst::ParameterInfo::kIsList, "list");
    add(Steinberg::Vst::ParameterInfo::kIsHidden, "hidden");
    add(Steinberg::Vst::ParameterInfo::kIsProgramChange, "program");
    add(Steinberg::Vst::ParameterInfo::kIsBypass, "bypass");
    return out.empty() ? "-" : out;
}

} // namespace

int RunInfo(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return Fail("info needs a bundle path");
    }
    Options options;
    std::string error;
    if (!ParseOptions(args, 1, {"--class", "--load-state"}, {}, options, error)) {
        return Fail(error);
    }
    auto module = LoadBundle(args[0]);
    if (!module) {
        return 1;
    }
    const auto& f = module->Info();
    std::printf("Factory\n  vendor: %s\n  url: %s\n  email: %s\n  flags: 0x%x\n", f.vendor.c_str(),
                f.url.c_str(), f.email.c_str(), static_cast<unsigned>(f.flags));
    for (const auto& c : module->Classes()) {
        std::printf("Class \"%s\"\n  category: %s\n  class ID: %s\n  cardinality: %d\n",
                    c.name.c_str(), c.category.c_str(), FormatClassId(c.cid).c_str(),
                    c.cardinality);
        if (c.hasInfo2) {
            std::printf("  sub-categories: %s\n  vendor: %s\n  version: %s\n  SDK version: %s\n"
                        "  class flags: 0x%x\n",
                        c.subCategories.c_str(), c.vendor.c_str(), c.version.c_str(),
                        c.sdkVersion.c_str(), static_cast<unsigned>(c.classFlags));
        }
    }
    const ClassInfo* info = PickClass(*module, options);
    if (info == nullptr) {
        return 1;
    }
    auto instance = module->CreateInstance(*info, error);
    if (!instance) {
        return Fail(error);
    }
    // With a saved state, the current column shows what it holds.
    if (const auto* path = options.Get("--load-state")) {
        if (!LoadStateFile(*instance, *path)) {
            return 1;
        }
    }
    const auto params = instance->Parameters();
    std::printf("Parameters of \"%s\" (%zu)\n", info->name.c_str(), params.size());
    std::printf("  %5s  %-26s %-7s %12s %12s %6s  %s\n", "id", "title", "units", "default",
                "current", "steps", "flags");
    for (const auto& p : params) {
        const double plain = instance->NormalizedToPlain(p.id, p.defaultNormalized);
        std::printf("  %5u  %-26s %-7s %12.6g %12.6g %6d  %s\n", p.id, p.title.c_str(),
                    p.units.c_str(), plain, instance->Plain(p.id), p.stepCount,
                    FlagNames(p.flags).c_str());
    }
    return 0;
}

} // namespace mvhost::cli
