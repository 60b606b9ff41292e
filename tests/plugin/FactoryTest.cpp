#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "IPlugVST3Entry.h"
#include "Morvellan.h"

#include "pluginterfaces/base/ipluginbase.h"

TEST(Factory, ClassDataIdentifiesTheProduct)
{
  const iplug::PlugFactoryInfo& f = iplug::GetPlugFactoryInfo();
  EXPECT_STREQ(f.vendor, "Halvorsted");
  EXPECT_STREQ(f.email, "");
  EXPECT_EQ(f.factoryFlags, Steinberg::PFactoryInfo::kUnicode);
  // 'Hlvd' and 'Mrvn' read as big-endian words.
  EXPECT_EQ(f.classID[0], 0xF2AEE70Du);
  EXPECT_EQ(f.classID[1], 0x00DE4F4Eu);
  EXPECT_EQ(f.classID[2], 0x486C7664u);
  EXPECT_EQ(f.classID[3], 0x4D72766Eu);
  EXPECT_EQ(f.cardinality, Steinberg::PClassInfo::kManyInstances);
  EXPECT_STREQ(f.category, "Audio Module Class");
  EXPECT_STREQ(f.name, "Morvellan");
  EXPECT_EQ(f.classFlags, 2u);
  EXPECT_STREQ(f.subCategories, "Fx|EQ");
  EXPECT_STREQ(f.classVendor, "");
  EXPECT_STREQ(f.version, "0.9.14");
  EXPECT_STREQ(f.sdkVersion, "VST 3.8.1");
  ASSERT_NE(f.create, nullptr);
}

TEST(Factory, InstancesAreMadeConcurrentlyAndConfigured)
{
  const iplug::PlugFactoryInfo& f = iplug::GetPlugFactoryInfo();
  std::vector<Steinberg::FUnknown*> made(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < made.size(); ++i)
    threads.emplace_back([&, i] { made[i] = f.create(nullptr); });
  for (auto& t : threads)
    t.join();

  for (Steinberg::FUnknown* unknown : made)
  {
    ASSERT_NE(unknown, nullptr);
    void* processor = nullptr;
    ASSERT_EQ(unknown->queryInterface(Steinberg::Vst::IAudioProcessor::iid, &processor), Steinberg::kResultOk);
    auto* plug = static_cast<Morvellan*>(static_cast<Steinberg::Vst::IAudioProcessor*>(processor));
    EXPECT_EQ(plug->NParams(), kNumParams);
    EXPECT_EQ(plug->GetConfig().vendorVersion, 0x090E);
    EXPECT_STREQ(plug->GetConfig().channelIOStr, "1-1 2-2");
    EXPECT_EQ(plug->GetConfig().uniqueID, 0x4D72766E);
    EXPECT_EQ(plug->GetConfig().plugMaxHeight, 1064);
    EXPECT_EQ(plug->mAccentIndex.load(), 5);
    EXPECT_EQ(plug->mBandLevels[1][11].load(), -120.0f);
    EXPECT_EQ(plug->mBandLevels[0][0].load(), 0.0f);
    morvellan::BalanceCopy target;
    ASSERT_TRUE(plug->TryReadLearnedTarget(target));
    EXPECT_FALSE(target.valid);
    EXPECT_GT(plug->mLearnedTarget.Sequence(), 0u); // written once by the constructor
    static_cast<Steinberg::Vst::IAudioProcessor*>(processor)->release();
    unknown->release();
  }
}
