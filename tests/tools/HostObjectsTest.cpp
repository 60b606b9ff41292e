// The host-side VST3 objects: stream, parameter changes, component handler,
// text and arrangement helpers, bundle paths.

#include "HostObjects.h"
#include "Module.h"
#include "PluginInstance.h"

#include <pluginterfaces/vst/vstspeaker.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

using namespace mvhost;
using Steinberg::IPtr;
using Steinberg::kResultOk;
using Steinberg::owned;

TEST(MemoryStreamTest, ReadsWritesAndSeeksLikeAFile)
{
    IPtr<MemoryStream> stream = owned(new MemoryStream());
    char hello[] = "hello";
    int32 written = -1;
    ASSERT_EQ(stream->write(hello, 5, &written), kResultOk);
    EXPECT_EQ(written, 5);

    int64 pos = -1;
    ASSERT_EQ(stream->seek(1, Steinberg::IBStream::kIBSeekSet, &pos), kResultOk);
    EXPECT_EQ(pos, 1);
    char buf[8] = {};
    int32 read = -1;
    // Asking for more than is left gives what is left.
    ASSERT_EQ(stream->read(buf, 8, &read), kResultOk);
    EXPECT_EQ(read, 4);
    EXPECT_EQ(std::string(buf, 4), "ello");
    ASSERT_EQ(stream->read(buf, 8, &read), kResultOk);
    EXPECT_EQ(read, 0);

    // Overwrite in the middle, then append past the end.
    ASSERT_EQ(stream->seek(-3, Steinberg::IBStream::kIBSeekEnd, &pos), kResultOk);
    EXPECT_EQ(pos, 2);
    char xy[] = "XYZW";
    ASSERT_EQ(stream->write(xy, 4, &written), kResultOk);
    EXPECT_EQ(std::string(stream->Data().begin(), stream->Data().end()), "heXYZW");
    ASSERT_EQ(stream->tell(&pos), kResultOk);
    EXPECT_EQ(pos, 6);
}

TEST(MemoryStreamTest, RefusesBadSeeksAndSizes)
{
    IPtr<MemoryStream> stream = owned(new MemoryStream({1, 2, 3}));
    int64 pos = 0;
    EXPECT_NE(stream->seek(-1, Steinberg::IBStream::kIBSeekSet, &pos), kResultOk);
    EXPECT_NE(stream->seek(-4, Steinberg::IBStream::kIBSeekEnd, &pos), kResultOk);
    EXPECT_NE(stream->seek(0, 17, &pos), kResultOk);
    EXPECT_NE(stream->seek(INT64_MAX, Steinberg::IBStream::kIBSeekEnd, &pos), kResultOk);
    ASSERT_EQ(stream->tell(&pos), kResultOk);
    EXPECT_EQ(pos, 0);
    char buf[4];
    EXPECT_NE(stream->read(buf, -1, nullptr), kResultOk);
    EXPECT_NE(stream->setStreamSize(-1), kResultOk);
    int64 size = 0;
    ASSERT_EQ(stream->setStreamSize(1), kResultOk);
    ASSERT_EQ(stream->getStreamSize(size), kResultOk);
    EXPECT_EQ(size, 1);
}

TEST(MemoryStreamTest, AnswersItsInterfacesOnly)
{
    IPtr<MemoryStream> stream = owned(new MemoryStream());
    void* obj = nullptr;
    EXPECT_EQ(stream->queryInterface(Steinberg::IBStream::iid, &obj), kResultOk);
    EXPECT_EQ(obj, static_cast<Steinberg::IBStream*>(stream.get()));
    stream->release();
    EXPECT_EQ(stream->queryInterface(Steinberg::ISizeableStream::iid, &obj), kResultOk);
    EXPECT_EQ(obj, static_cast<Steinberg::ISizeableStream*>(stream.get()));
    stream->release();
    EXPECT_NE(stream->queryInterface(Steinberg::Vst::IParameterChanges::iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);
}

TEST(ParameterChangesTest, KeepsOneQueueperIdWithSortedPoints)
{
    ParameterChanges changes;
    int32 index = -1;
    auto* a = changes.addParameterData(7, index);
    EXPECT_EQ(index, 0);
    auto* b = changes.addParameterData(9, index);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(changes.addParameterData(7, index), a);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(changes.getParameterCount(), 2);
    EXPECT_EQ(changes.getParameterData(1), b);
    EXPECT_EQ(changes.getParameterData(2), nullptr);
    EXPECT_EQ(changes.getParameterData(-1), nullptr);

    int32 pointIndex = -1;
    a->addPoint(100, 0.5, pointIndex);
    a->addPoint(10, 0.25, pointIndex);
    EXPECT_EQ(pointIndex, 0);
    a->addPoint(100, 0.75, pointIndex); // same offset: replaces
    ASSERT_EQ(a->getPointCount(), 2);
    int32 offset = -1;
    double value = -1;
    ASSERT_EQ(a->getPoint(0, offset, value), kResultOk);
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(value, 0.25);
    ASSERT_EQ(a->getPoint(1, offset, value), kResultOk);
    EXPECT_EQ(offset, 100);
    EXPECT_EQ(value, 0.75);
    EXPECT_NE(a->getPoint(2, offset, value), kResultOk);

    // A cleared list reuses its queues empty, under new ids.
    changes.Clear();
    EXPECT_EQ(changes.getParameterCount(), 0);
    changes.Add(3, 1.0);
    ASSERT_EQ(changes.getParameterCount(), 1);
    EXPECT_EQ(changes.getParameterData(0)->getParameterId(), 3u);
    EXPECT_EQ(changes.getParameterData(0)->getPointCount(), 1);
}

TEST(ComponentHandlerTest, RecordsEditsInOrderAndHandsThemOverOnce)
{
    IPtr<ComponentHandler> handler = owned(new ComponentHandler());
    handler->beginEdit(4);
    handler->performEdit(4, 0.1);
    handler->performEdit(4, 0.2);
    handler->performEdit(2, 0.9);
    EXPECT_EQ(handler->OpenGestures(), 1);
    handler->endEdit(4);
    EXPECT_EQ(handler->OpenGestures(), 0);
    handler->restartComponent(Steinberg::Vst::kLatencyChanged);
    handler->restartComponent(Steinberg::Vst::kParamValuesChanged);
    EXPECT_EQ(handler->RestartFlags(),
              Steinberg::Vst::kLatencyChanged | Steinberg::Vst::kParamValuesChanged);

    const auto edits = handler->TakeEdits();
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits[0].id, 4u);
    EXPECT_EQ(edits[0].value, 0.1);
    EXPECT_EQ(edits[1].value, 0.2);
    EXPECT_EQ(edits[2].id, 2u);
    EXPECT_TRUE(handler->TakeEdits().empty());
}

TEST(HostApplicationTest, NamesItselfAndMakesNothing)
{
    IPtr<HostApplication> host = owned(new HostApplication("abc"));
    Steinberg::Vst::String128 name;
    std::fill(std::begin(name), std::end(name), Steinberg::Vst::TChar('#'));
    ASSERT_EQ(host->getName(name), kResultOk);
    EXPECT_EQ(name[0], 'a');
    EXPECT_EQ(name[2], 'c');
    EXPECT_EQ(name[3], 0);
    void* obj = reinterpret_cast<void*>(1);
    Steinberg::TUID cid{};
    Steinberg::TUID iid{};
    EXPECT_NE(host->createInstance(cid, iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);
}

TEST(HostHelpersTest, ConvertsUtf16ToUtf8)
{
    // "aé€😀" in UTF-16, then a character after the limit.
    const Steinberg::Vst::TChar text[] = {u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00, u'z', 0};
    EXPECT_EQ(ToUtf8(text, 5), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(text, 1), "a");
    EXPECT_EQ(ToUtf8(nullptr, 10), "");
}

TEST(HostHelpersTest, MapsChannelCountsToArrangements)
{
    EXPECT_EQ(ArrangementFor(1), Steinberg::Vst::SpeakerArrangement{1} << 19); // centre speaker
    EXPECT_EQ(ArrangementFor(2), Steinberg::Vst::SpeakerArrangement{3});       // left + right
    EXPECT_EQ(ArrangementFor(0), Steinberg::Vst::SpeakerArrangement{0});
    EXPECT_EQ(Steinberg::Vst::SpeakerArr::getChannelCount(ArrangementFor(6)), 6);
}

TEST(HostHelpersTest, FindsTheBinaryInsideABundle)
{
    EXPECT_EQ(BinaryPathOf("/p/Foo.vst3"), "/p/Foo.vst3/Contents/x86_64-linux/Foo.so");
    EXPECT_EQ(BinaryPathOf("/p/Foo.vst3/"), "/p/Foo.vst3/Contents/x86_64-linux/Foo.so");
    EXPECT_EQ(BinaryPathOf("/p/lib.so"), "/p/lib.so");
}

TEST(HostHelpersTest, FormatsClassIdsAsFourWords)
{
    const std::array<std::uint8_t, 16> cid = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                              0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    EXPECT_EQ(FormatClassId(cid), "01234567 89ABCDEF 00112233 44556677");
}

TEST(ModuleTest, RefusesMissingAndBrokenBundles)
{
    std::string error;
    EXPECT_EQ(Module::Load("/nonexistent/None.vst3", error), nullptr);
    EXPECT_NE(error.find("no plug-in binary"), std::string::npos) << error;

    // A bundle whose binary is not a shared object.
    const auto root = std::filesystem::temp_directory_path() /
                      ("mvhost-broken-" + std::to_string(::getpid()));
    const auto dir = root / "Broken.vst3" / "Contents" / "x86_64-linux";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Broken.so") << "not an ELF file";
    error.clear();
    EXPECT_EQ(Module::Load(root / "Broken.vst3", error), nullptr);
    EXPECT_NE(error.find("could not load"), std::string::npos) << error;
    std::filesystem::remove_all(root);
}

TEST(HostApplicationTest, MakesMessagesThatCarryAttributes)
{
    IPtr<HostApplication> host = owned(new HostApplication());
    Steinberg::TUID cid;
    Steinberg::TUID iid;
    std::memcpy(cid, Steinberg::Vst::IMessage::iid.toTUID(), 16);
    std::memcpy(iid, Steinberg::Vst::IMessage::iid.toTUID(), 16);
    void* obj = nullptr;
    ASSERT_EQ(host->createInstance(cid, iid, &obj), kResultOk);
    ASSERT_NE(obj, nullptr);
    IPtr<Steinberg::Vst::IMessage> message = owned(static_cast<Steinberg::Vst::IMessage*>(obj));
    message->setMessageID("hello");
    EXPECT_STREQ(message->getMessageID(), "hello");
    auto* attributes = message->getAttributes();
    ASSERT_NE(attributes, nullptr);
    ASSERT_EQ(attributes->setInt("n", -42), kResultOk);
    Steinberg::int64 n = 0;
    ASSERT_EQ(attributes->getInt("n", n), kResultOk);
    EXPECT_EQ(n, -42);
    Steinberg::int64 missing = 0;
    EXPECT_NE(attributes->getInt("m", missing), kResultOk);
    const char bytes[3] = {1, 0, 2};
    ASSERT_EQ(attributes->setBinary("b", bytes, 3), kResultOk);
    const void* data = nullptr;
    Steinberg::uint32 size = 0;
    ASSERT_EQ(attributes->getBinary("b", data, size), kResultOk);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, bytes, 3), 0);
    const Steinberg::Vst::TChar text[] = {u'h', u'\u00E9', 0};
    ASSERT_EQ(attributes->setString("s", text), kResultOk);
    Steinberg::Vst::TChar small[2];
    ASSERT_EQ(attributes->getString("s", small, sizeof small), kResultOk);
    EXPECT_EQ(small[0], u'h');
    EXPECT_EQ(small[1], 0); // cut to the room given, still terminated
}

TEST(MemoryStreamTest, RefusesToGrowWithoutBound)
{
    IPtr<MemoryStream> stream = owned(new MemoryStream());
    int64 pos = 0;
    ASSERT_EQ(stream->seek(MemoryStream::kMaxStreamBytes, Steinberg::IBStream::kIBSeekSet, &pos),
              kResultOk);
    char byte = 1;
    int32 written = -1;
    EXPECT_NE(stream->write(&byte, 1, &written), kResultOk);
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(stream->Data().empty());
    EXPECT_NE(stream->setStreamSize(MemoryStream::kMaxStreamBytes + 1), kResultOk);
}
