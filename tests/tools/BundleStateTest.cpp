// The saved state through the host's getState/setState: the bytes of a fresh
// instance, round trips, every layout version, and damaged or hostile chunks.

#include "BundleFixture.h"

#include <cmath>
#include <limits>
#include <random>

using namespace bundle_test;
using Steinberg::kResultOk;

namespace {

// In-range values away from every default: a quarter of the way up, and
// switches flipped.
std::array<double, kParams> OddValues()
{
    std::array<double, kParams> v{};
    for (int i = 0; i < kParams; ++i) {
        const auto& row = kParamTable[static_cast<std::size_t>(i)];
        v[static_cast<std::size_t>(i)] = row.mapping == Mapping::Switch
                                             ? 1.0 - row.defaultValue
                                             : row.min + (row.max - row.min) * 0.25;
    }
    return v;
}

std::array<double, 12> Ramp(double start, double step)
{
    std::array<double, 12> v{};
    for (std::size_t b = 0; b < 12; ++b) {
        v[b] = start + step * static_cast<double>(b);
    }
    return v;
}

// The header fields and the first parameter block in the older layouts.
bundle_test::ChunkWriter Header(int version, int accent, int hasTarget,
                                const std::array<double, 12>& relative)
{
    ChunkWriter w;
    w.U32(kMagic).Int(version).Int(accent).Int(720).Int(532).Int(hasTarget);
    for (double v : relative) {
        w.Dbl(v);
    }
    return w;
}

void WriteParams(ChunkWriter& w, const std::array<double, kParams>& p, int first, int end)
{
    for (int i = first; i < end; ++i) {
        w.Dbl(p[static_cast<std::size_t>(i)]);
    }
}

} // namespace

using StateTest = BundleTest;

TEST_F(StateTest, FreshInstanceWritesTheDefaultLayout)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    const auto bytes = StateOf(*instance);
    // Accent 5 (follow the host), editor 720 × 532, no target, no names.
    const auto expected =
        MakeChunkV5(DefaultValues(), 5, 0, {}, {}, "", "", 0, 720, 532);
    ASSERT_EQ(expected.size(), 608u);
    // The host's bypass switch (off) follows as one more int32.
    auto withBypass = expected;
    withBypass.insert(withBypass.end(), {0, 0, 0, 0});
    EXPECT_EQ(bytes, withBypass);
    // The magic reads "1SVM" byte by byte.
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "1SVM");
}

TEST_F(StateTest, RoundTripIsByteIdentical)
{
    auto a = NewInstance();
    ASSERT_NE(a, nullptr);
    const auto values = OddValues();
    for (int i = 0; i < kParams; ++i) {
        SetPlain(*a, i, values[static_cast<std::size_t>(i)]);
    }
    const auto saved = StateOf(*a);
    SavedState parsed;
    ASSERT_TRUE(ParseState(saved, parsed));
    for (int i = 0; i < kParams; ++i) {
        EXPECT_NEAR(parsed.params[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(i)],
                    1e-9 * std::max(1.0, std::abs(values[static_cast<std::size_t>(i)])))
            << kParamTable[static_cast<std::size_t>(i)].title;
    }

    auto b = NewInstance();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->SetState(saved), kResultOk);
    EXPECT_EQ(StateOf(*b), saved);
    // The controller side shows the restored values too.
    EXPECT_NEAR(b->Plain(IdOf(*b, idx::kAmount)), values[idx::kAmount], 1e-9);
    // Restoring into the instance that wrote it changes nothing.
    EXPECT_EQ(a->SetState(saved), kResultOk);
    EXPECT_EQ(StateOf(*a), saved);
}

TEST_F(StateTest, TargetNamesSizeAndMarkRoundTrip)
{
    const auto chunk = MakeChunkV5(OddValues(), 3, 1, Ramp(-3.0, 0.5), Ramp(-60.0, 1.25),
                                   "reference \xC3\xA9.wav", "Vox preset", 1, 1080, 798);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(instance->SetState(chunk), kResultOk);
    const auto bytes = StateOf(*instance);
    ASSERT_GE(bytes.size(), chunk.size());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(chunk.size())),
              chunk);
}

TEST_F(StateTest, NoTargetMeansNoSourceName)
{
    const auto chunk = MakeChunkV5(DefaultValues(), 5, 0, Ramp(1.0, 1.0), Ramp(2.0, 1.0),
                                   "ignored.wav", "", 0);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(instance->SetState(chunk), kResultOk);
    const auto s = ParsedStateOf(*instance);
    EXPECT_EQ(s.hasTarget, 0);
    EXPECT_EQ(s.source, "");
}

TEST_F(StateTest, OlderVersionsFillWhatTheyLack)
{
    const auto values = OddValues();
    const auto relative = Ramp(-2.0, 0.25);
    const auto absolute = Ramp(-50.0, 2.0);
    const auto defaults = DefaultValues();

    struct Case {
        int version;
        bool hasName, hasAbsolute, hasTail;
    };
    for (const Case c : {Case{1, false, false, false}, Case{2, true, false, false},
                         Case{3, true, true, false}, Case{4, true, true, true}}) {
        SCOPED_TRACE(c.version);
        ChunkWriter w = Header(c.version, 2, 1, relative);
        if (c.hasName) {
            w.Str("take 3.wav");
        }
        WriteParams(w, values, 0, 24);
        if (c.hasAbsolute) {
            for (double v : absolute) {
                w.Dbl(v);
            }
        }
        if (c.hasTail) {
            w.Int(1).Int(22);
            WriteParams(w, values, 24, kParams);
        }
        auto instance = NewInstance();
        ASSERT_NE(instance, nullptr);
        EXPECT_EQ(instance->SetState(w.bytes), kResultOk);
        const auto s = ParsedStateOf(*instance);
        EXPECT_EQ(s.accent, 2);
        EXPECT_EQ(s.hasTarget, 1);
        EXPECT_EQ(s.relative, relative);
        EXPECT_EQ(s.source, c.hasName ? "take 3.wav" : "");
        // Without its own source balance the target takes the relative one.
        EXPECT_EQ(s.absolute, c.hasAbsolute ? absolute : relative);
        for (int i = 0; i < kParams; ++i) {
            const double want = (i < 24 || c.hasTail) ? values[static_cast<std::size_t>(i)]
                                                       : defaults[static_cast<std::size_t>(i)];
            EXPECT_DOUBLE_EQ(s.params[static_cast<std::size_t>(i)], want)
                << kParamTable[static_cast<std::size_t>(i)].title;
        }
        EXPECT_EQ(s.preset, "");
        EXPECT_EQ(s.modified, 0);
    }
}

TEST_F(StateTest, VersionFourTailCountsLongAndShort)
{
    const auto values = OddValues();
    const auto defaults = DefaultValues();
    for (const int count : {30, 10, 0, -5}) {
        SCOPED_TRACE(count);
        ChunkWriter w = Header(4, 0, 0, {});
        w.Str("");
        WriteParams(w, values, 0, 24);
        for (int b = 0; b < 12; ++b) {
            w.Dbl(0.0);
        }
        w.Int(0).Int(count);
        const int given = std::max(count, 0);
        for (int k = 0; k < given; ++k) {
            // Values past the 22 the plug-in has are skipped.
            w.Dbl(k < 22 ? values[static_cast<std::size_t>(24 + k)] : 12345.0);
        }
        auto instance = NewInstance();
        ASSERT_NE(instance, nullptr);
        instance->SetState(w.bytes);
        const auto s = ParsedStateOf(*instance);
        for (int i = 24; i < kParams; ++i) {
            const double want = (i - 24) < std::min(given, 22) ? values[static_cast<std::size_t>(i)]
                                                                : defaults[static_cast<std::size_t>(i)];
            EXPECT_DOUBLE_EQ(s.params[static_cast<std::size_t>(i)], want)
                << kParamTable[static_cast<std::size_t>(i)].title;
        }
    }
}

TEST_F(StateTest, AccentAndEditorSizeAreChecked)
{
    for (const int accent : {7, -1, 1 << 30}) {
        auto instance = NewInstance();
        ASSERT_NE(instance, nullptr);
        ASSERT_EQ(instance->SetState(MakeChunkV5(DefaultValues(), accent, 0, {}, {}, "", "", 0)),
                  kResultOk);
        EXPECT_EQ(ParsedStateOf(*instance).accent, 0) << accent;
    }
    // 800 × 800 is too far from the editor's aspect ratio.
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    ASSERT_EQ(instance->SetState(MakeChunkV5(DefaultValues(), 1, 0, {}, {}, "", "", 0, 800, 800)),
              kResultOk);
    const auto s = ParsedStateOf(*instance);
    EXPECT_EQ(s.width, 720);
    EXPECT_EQ(s.height, 532);
}

TEST_F(StateTest, PlainParameterListWithoutMagic)
{
    const auto values = OddValues();
    ChunkWriter w;
    WriteParams(w, values, 0, kParams);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->SetState(w.bytes), kResultOk);
    const auto s = ParsedStateOf(*instance);
    for (int i = 0; i < kParams; ++i) {
        EXPECT_DOUBLE_EQ(s.params[static_cast<std::size_t>(i)], values[static_cast<std::size_t>(i)])
            << kParamTable[static_cast<std::size_t>(i)].title;
    }
}

TEST_F(StateTest, ShortAndDamagedChunksChangeNothing)
{
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    const auto good = MakeChunkV5(OddValues(), 3, 1, Ramp(-1.0, 0.5), Ramp(-40.0, 1.0),
                                  "ref.wav", "Mine", 0);
    ASSERT_EQ(instance->SetState(good), kResultOk);
    const auto before = StateOf(*instance);

    // Empty, three bytes, or a plain list too short for every parameter.
    instance->SetState({});
    EXPECT_EQ(StateOf(*instance), before);
    instance->SetState({'1', 'S', 'V'});
    EXPECT_EQ(StateOf(*instance), before);
    EXPECT_NE(instance->SetState(std::vector<std::uint8_t>(45 * 8, 0)), kResultOk);
    EXPECT_EQ(StateOf(*instance), before);

    // The magic, then a header (up to the end of the source name) cut short:
    // refused, and never read again as a plain list of values.
    const std::size_t headerEnd = 124 + std::string("ref.wav").size();
    for (std::size_t cut = 4; cut < headerEnd; ++cut) {
        const std::vector<std::uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_NE(instance->SetState(part), kResultOk) << cut;
        ASSERT_EQ(StateOf(*instance), before) << cut;
    }

    // A source name whose length runs far past the end.
    ChunkWriter huge = Header(5, 1, 1, {});
    huge.Int(0x7FFFFFF0);
    huge.Raw(good.data() + 124, good.size() - 124);
    EXPECT_NE(instance->SetState(huge.bytes), kResultOk);
    EXPECT_EQ(StateOf(*instance), before);
}

TEST_F(StateTest, NonFiniteNumbersNeverReachTheParametersOrTarget)
{
    auto values = OddValues();
    values[idx::kAmount] = std::numeric_limits<double>::quiet_NaN();
    values[idx::kOutput] = std::numeric_limits<double>::infinity();
    values[idx::kPreEqRespect] = -std::numeric_limits<double>::infinity();
    auto relative = Ramp(0.0, 1.0);
    relative[4] = std::numeric_limits<double>::quiet_NaN();
    const auto chunk = MakeChunkV5(values, 1, 1, relative, Ramp(0.0, 1.0), "nan.wav", "", 0);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    instance->SetState(chunk);
    const auto s = ParsedStateOf(*instance);
    const auto defaults = DefaultValues();
    EXPECT_EQ(s.params[idx::kAmount], defaults[idx::kAmount]);
    EXPECT_EQ(s.params[idx::kOutput], defaults[idx::kOutput]);
    EXPECT_EQ(s.params[idx::kPreEqRespect], defaults[idx::kPreEqRespect]);
    EXPECT_EQ(s.params[idx::kSpeed], values[idx::kSpeed]);
    // The target with a NaN in it is not taken.
    EXPECT_EQ(s.hasTarget, 0);
    for (double v : s.relative) {
        EXPECT_TRUE(std::isfinite(v));
    }

    // Absolute values with an infinity: the target is not taken either.
    auto absolute = Ramp(0.0, 1.0);
    absolute[11] = -std::numeric_limits<double>::infinity();
    auto other = NewInstance();
    ASSERT_NE(other, nullptr);
    other->SetState(MakeChunkV5(DefaultValues(), 1, 1, Ramp(0.0, 1.0), absolute, "x", "", 0));
    const auto t = ParsedStateOf(*other);
    EXPECT_EQ(t.hasTarget, 0);
    for (double v : t.absolute) {
        EXPECT_TRUE(std::isfinite(v));
    }
}

TEST_F(StateTest, MangledChunksLeaveAConsistentState)
{
    // Random damage to a good chunk: whatever is restored, the state read
    // back is complete and every value finite and within its range.
    const auto good = MakeChunkV5(OddValues(), 2, 1, Ramp(-1.0, 0.5), Ramp(-40.0, 1.0),
                                  "mangled.wav", "Preset", 1);
    auto instance = NewInstance();
    ASSERT_NE(instance, nullptr);
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        auto bytes = good;
        const int damage = 1 + static_cast<int>(rng() % 6);
        for (int d = 0; d < damage; ++d) {
            switch (rng() % 3) {
            case 0: bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng()); break;
            case 1: bytes.resize(rng() % (bytes.size() + 1)); break;
            default: bytes.insert(bytes.begin() + static_cast<long>(rng() % (bytes.size() + 1)),
                                  static_cast<std::uint8_t>(rng())); break;
            }
            if (bytes.empty()) {
                break;
            }
        }
        instance->SetState(bytes);
        SavedState s;
        ASSERT_TRUE(ParseState(StateOf(*instance), s)) << "round " << round;
        ASSERT_GE(s.accent, 0);
        ASSERT_LE(s.accent, 5);
        for (int i = 0; i < kParams; ++i) {
            const auto& row = kParamTable[static_cast<std::size_t>(i)];
            const double v = s.params[static_cast<std::size_t>(i)];
            ASSERT_TRUE(std::isfinite(v)) << row.title << " round " << round;
            ASSERT_GE(v, row.min) << row.title << " round " << round;
            ASSERT_LE(v, row.max) << row.title << " round " << round;
        }
        for (std::size_t b = 0; b < 12; ++b) {
            ASSERT_TRUE(std::isfinite(s.relative[b]) && std::isfinite(s.absolute[b]));
        }
    }
}
