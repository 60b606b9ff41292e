#include <cstring>

#include <gtest/gtest.h>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include "IPlugVST3Entry.h"
#include "TestPlug.h"

using namespace Steinberg;

extern "C" {
IPluginFactory* PLUGIN_API GetPluginFactory();
bool ModuleEntry(void*);
bool ModuleExit();
}

namespace
{

int gCreated = 0;

FUnknown* CreateTestPlug(void*)
{
  ++gCreated;
  return static_cast<Vst::IAudioProcessor*>(new testplug::TestPlug());
}

} // namespace

const iplug::PlugFactoryInfo& iplug::GetPlugFactoryInfo()
{
  static const PlugFactoryInfo info = [] {
    PlugFactoryInfo i;
    i.vendor = "Tests";
    i.url = "https://example.invalid";
    i.email = "";
    i.factoryFlags = PFactoryInfo::kUnicode;
    i.classID[0] = 0x01234567;
    i.classID[1] = 0x89ABCDEF;
    i.classID[2] = 0x54657374; // "Test"
    i.classID[3] = 0x506C7567; // "Plug"
    i.cardinality = PClassInfo::kManyInstances;
    i.category = "Audio Module Class";
    i.name = "TestPlug";
    i.classFlags = 2;
    i.subCategories = "Fx|EQ";
    i.classVendor = "";
    i.version = "1.2.3";
    i.sdkVersion = "VST 3.8.1";
    i.create = CreateTestPlug;
    return i;
  }();
  return info;
}

namespace
{

// The ID bytes as this platform's SDK lays out INLINE_UID (big-endian words off Windows).
const uint8_t kExpectedCid[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  'T',  'e',  's',  't',  'P',  'l',  'u',  'g'};

TEST(ModuleEntry, EntryAndExitCountReferences)
{
  const int before = iplug::ModuleRefCount();
  int handle = 0;
  EXPECT_TRUE(ModuleEntry(&handle));
  EXPECT_TRUE(ModuleEntry(nullptr));
  EXPECT_EQ(iplug::ModuleRefCount(), before + 2);
  EXPECT_EQ(iplug::GetModuleHandle(), &handle); // the first entry's handle is kept
  EXPECT_TRUE(ModuleExit());
  EXPECT_EQ(iplug::GetModuleHandle(), &handle);
  EXPECT_TRUE(ModuleExit());
  EXPECT_EQ(iplug::ModuleRefCount(), before);
  if (before == 0)
  {
    EXPECT_EQ(iplug::GetModuleHandle(), nullptr);
    EXPECT_FALSE(ModuleExit()); // unbalanced exit is refused
  }
}

TEST(ModuleEntry, FactoryReportsTheClassData)
{
  IPluginFactory* factory = GetPluginFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(GetPluginFactory(), factory); // one factory per module
  factory->release();

  PFactoryInfo finfo;
  ASSERT_EQ(factory->getFactoryInfo(&finfo), kResultOk);
  EXPECT_STREQ(finfo.vendor, "Tests");
  EXPECT_STREQ(finfo.url, "https://example.invalid");
  EXPECT_EQ(finfo.flags, PFactoryInfo::kUnicode);
  ASSERT_EQ(factory->countClasses(), 1);

  PClassInfo info;
  ASSERT_EQ(factory->getClassInfo(0, &info), kResultOk);
  EXPECT_EQ(0, std::memcmp(info.cid, kExpectedCid, 16));
  EXPECT_STREQ(info.category, "Audio Module Class");
  EXPECT_STREQ(info.name, "TestPlug");
  EXPECT_EQ(info.cardinality, PClassInfo::kManyInstances);
  EXPECT_EQ(factory->getClassInfo(1, &info), kInvalidArgument);

  IPluginFactory2* f2 = nullptr;
  ASSERT_EQ(factory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&f2)), kResultOk);
  PClassInfo2 info2;
  ASSERT_EQ(f2->getClassInfo2(0, &info2), kResultOk);
  EXPECT_STREQ(info2.subCategories, "Fx|EQ");
  EXPECT_STREQ(info2.version, "1.2.3");
  EXPECT_STREQ(info2.sdkVersion, "VST 3.8.1");
  EXPECT_EQ(info2.classFlags, 2u);
  f2->release();

  IPluginFactory3* f3 = nullptr;
  ASSERT_EQ(factory->queryInterface(IPluginFactory3::iid, reinterpret_cast<void**>(&f3)), kResultOk);
  PClassInfoW infoW;
  ASSERT_EQ(f3->getClassInfoUnicode(0, &infoW), kResultOk);
  EXPECT_EQ(infoW.name[0], 'T');
  EXPECT_EQ(infoW.name[8], 0);
  EXPECT_EQ(infoW.sdkVersion[4], '3');
  EXPECT_EQ(0, std::memcmp(infoW.cid, kExpectedCid, 16));
  EXPECT_EQ(f3->setHostContext(nullptr), kResultOk);
  f3->release();

  factory->release();
}

TEST(ModuleEntry, CreateInstanceChecksTheClassAndInterface)
{
  IPluginFactory* factory = GetPluginFactory();
  ASSERT_NE(factory, nullptr);
  const int created = gCreated;
  void* obj = nullptr;
  TUID cid;
  std::memcpy(cid, kExpectedCid, 16);

  ASSERT_EQ(factory->createInstance(cid, Vst::IComponent::iid, &obj), kResultOk);
  ASSERT_NE(obj, nullptr);
  auto* component = static_cast<Vst::IComponent*>(obj);
  // The component is also the controller.
  void* ctrl = nullptr;
  ASSERT_EQ(component->queryInterface(Vst::IEditController::iid, &ctrl), kResultOk);
  static_cast<Vst::IEditController*>(ctrl)->release();
  const int destroyed = testplug::GetProbe().destroyed;
  EXPECT_EQ(component->release(), 0u); // the caller held the only reference
  EXPECT_EQ(testplug::GetProbe().destroyed, destroyed + 1);
  EXPECT_EQ(gCreated, created + 1);

  TUID other = {};
  obj = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->createInstance(other, Vst::IComponent::iid, &obj), kNoInterface);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(gCreated, created + 1);

  // An interface the plug-in lacks: the instance is made and released again.
  EXPECT_EQ(factory->createInstance(cid, IPluginFactory::iid, &obj), kNoInterface);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(testplug::GetProbe().destroyed, destroyed + 2);
  EXPECT_EQ(factory->createInstance(nullptr, nullptr, &obj), kInvalidArgument);
  factory->release();
}

} // namespace
