// Building waves: AddGeneric's merging and limits, Create's pool, Delete and id reuse,
// TxSend's results.
#include "case_name.h"
#include "sim_test.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

constexpr uint32_t A = 1u << 24, B = 1u << 6;

bool samePulses(const Pulses& got, const Pulses& want)
{
    if (got.size() != want.size()) {
        return false;
    }
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].gpioOn != want[i].gpioOn || got[i].gpioOff != want[i].gpioOff ||
            got[i].usDelay != want[i].usDelay) {
            return false;
        }
    }
    return true;
}

struct MergeCase {
    const char* name;
    Pulses pending, added, merged;
};

class Merge : public SimTest, public ::testing::WithParamInterface<MergeCase> {};

} // namespace

TEST_P(Merge, TwoTimelinesFromZero)
{
    const MergeCase& c = GetParam();
    ASSERT_EQ(gpioInitialise(), 79);
    Pulses pending = c.pending;
    Pulses added = c.added;
    if (!pending.empty()) {
        ASSERT_EQ(gpioWaveAddGeneric(static_cast<unsigned>(pending.size()), pending.data()),
                  static_cast<int>(pending.size()));
    }
    EXPECT_EQ(gpioWaveAddGeneric(static_cast<unsigned>(added.size()), added.data()),
              static_cast<int>(c.merged.size()));
    ASSERT_EQ(gpioWaveCreate(), 0);
    EXPECT_TRUE(samePulses(createdPulses(), c.merged));
}

INSTANTIATE_TEST_SUITE_P(Cases, Merge,
                         ::testing::Values(MergeCase{"CopiedOneToOne",
                                                     {},
                                                     {{A, 0, 0}, {0, A, 0}, {0, 0, 7}},
                                                     {{A, 0, 0}, {0, A, 0}, {0, 0, 7}}},
                                           MergeCase{"AppendAfterLeadingDelay",
                                                     {{A, 0, 10}, {0, A, 25}},
                                                     {{0, 0, 35}, {B, 0, 4}},
                                                     {{A, 0, 10}, {0, A, 25}, {B, 0, 4}}},
                                           MergeCase{"DelaySplitLastStretched",
                                                     {{A, 0, 10}},
                                                     {{B, 0, 4}, {0, B, 3}},
                                                     {{A | B, 0, 4}, {0, B, 6}}},
                                           MergeCase{"LaterEndWins",
                                                     {{A, 0, 5}},
                                                     {{0, 0, 3}, {B, 0, 9}},
                                                     {{A, 0, 3}, {B, 0, 9}}},
                                           MergeCase{"SameListTwice",
                                                     {{A, 0, 0}, {0, A, 5}},
                                                     {{A, 0, 0}, {0, A, 5}},
                                                     {{A, 0, 0}, {0, A, 5}}}),
                         [](const auto& test) { return pascalCase(test.param.name); });

TEST_F(SimTest, AddGenericLimitsAndNull)
{
    ASSERT_EQ(gpioInitialise(), 79);
    Pulses many(12001, gpioPulse_t{0, 0, 1});
    CaptureStderr();
    EXPECT_EQ(gpioWaveAddGeneric(12001, many.data()), PI_TOO_MANY_PULSES);
    EXPECT_EQ(gpioWaveAddGeneric(1, nullptr), PI_BAD_POINTER);
    EXPECT_EQ(gpioWaveAddGeneric(0, nullptr), PI_BAD_POINTER);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find(" gpioWaveAddGeneric: bad number of pulses (12001)\n"), std::string::npos);
    EXPECT_NE(err.find(" gpioWaveAddGeneric: bad (NULL) pulses pointer\n"), std::string::npos);

    CaptureStderr();
    EXPECT_EQ(gpioWaveAddGeneric(12000, many.data()), PI_TOO_MANY_PULSES);
    EXPECT_EQ(gpioWaveAddGeneric(11999, many.data()), 11999);
    EXPECT_EQ(GetCapturedStderr(), "") << "a merged total of 12000 fails silently";
    Pulses later{{0, 0, 11999}, {A, 0, 1}}; // one more pulse: 12000 in all
    EXPECT_EQ(gpioWaveAddGeneric(2, later.data()), PI_TOO_MANY_PULSES);
    EXPECT_EQ(gpioWaveAddGeneric(0, later.data()), 11999) << "the earlier pulses are kept";
}

TEST_F(SimTest, CreateConsumesPendingOnlyOnSuccess)
{
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(gpioWaveCreate(), PI_EMPTY_WAVEFORM);
    EXPECT_EQ(makeWave(carrier(24, 11918)), PI_TOO_MANY_CBS);
    EXPECT_EQ(gpioWaveCreate(), PI_TOO_MANY_CBS) << "the pulses stay pending";
    EXPECT_EQ(gpioWaveAddNew(), 0);
    EXPECT_EQ(gpioWaveCreate(), PI_EMPTY_WAVEFORM);
    EXPECT_EQ(makeWave(carrier(24, 2)), 0);
    EXPECT_EQ(gpioWaveCreate(), PI_EMPTY_WAVEFORM);
    EXPECT_EQ(gpioWaveAddGeneric(0, createdPulses().data()), 0);
}

// 1180 CBs are reserved out of 25016, so all waves together may use 23836.
struct PoolCase {
    int pulses, delays, result, cbs;
};

class CbPool : public SimTest, public ::testing::WithParamInterface<PoolCase> {};

TEST_P(CbPool, BoundaryOfOneWave)
{
    const PoolCase& c = GetParam();
    ASSERT_EQ(gpioInitialise(), 79);
    EXPECT_EQ(makeWave(carrier(24, c.pulses, c.delays)), c.result);
    if (c.result >= 0) {
        EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), c.cbs);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CbPool,
                         ::testing::Values(PoolCase{11917, 0, 0, 23835},
                                           PoolCase{11917, 1, 0, 23836},
                                           PoolCase{11917, 2, PI_TOO_MANY_CBS, 0},
                                           PoolCase{11918, 0, PI_TOO_MANY_CBS, 0}));

TEST_F(SimTest, PoolIsSharedAndFreedFromTheTop)
{
    ASSERT_EQ(gpioInitialise(), 79);
    ASSERT_EQ(makeWave(carrier(24, 11917)), 0);        // 23835 CBs
    EXPECT_EQ(makeWave({{0, 0, 0}}), 1);               // 1 CB: exactly full
    EXPECT_EQ(makeWave({{0, 0, 0}}), PI_TOO_MANY_CBS); // one too many
    EXPECT_EQ(gpioWaveDelete(0), 0);
    EXPECT_EQ(makeWave(carrier(24, 2)), PI_TOO_MANY_CBS) << "id 0's CBs stay held below id 1";
    EXPECT_EQ(gpioWaveAddNew(), 0);
    EXPECT_EQ(gpioWaveDelete(1), 0);
    EXPECT_EQ(makeWave(carrier(24, 11917)), 0) << "both freed once the top went";
}

TEST_F(SimTest, OolPoolBoundary)
{
    ASSERT_EQ(gpioInitialise(), 79);
    // 790 of 16748 OOLs are reserved; a pulse with both masks uses 2.
    EXPECT_EQ(makeWave(Pulses(7980, gpioPulse_t{A, B, 0})), PI_TOO_MANY_OOL);
    EXPECT_EQ(gpioWaveAddNew(), 0);
    EXPECT_EQ(makeWave(Pulses(7979, gpioPulse_t{A, B, 0})), 0);
}

struct CbCase {
    Pulses pulses;
    int cbs;
};

class TxSendCbs : public SimTest, public ::testing::WithParamInterface<CbCase> {};

TEST_P(TxSendCbs, CountsStartDelayMasksAndDelays)
{
    ASSERT_EQ(gpioInitialise(), 79);
    ASSERT_EQ(makeWave(GetParam().pulses), 0);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), GetParam().cbs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TxSendCbs,
    ::testing::Values(CbCase{{{A, 0, 9}, {0, A, 17}}, 5},
                      CbCase{{{A, 0, 10}, {0, A, 10}, {A, 0, 10}, {0, A, 10}}, 9},
                      CbCase{{{A, A, 0}}, 2}, CbCase{{{0, 0, 0}}, 1}, CbCase{{{0, 0, 7}}, 2},
                      CbCase{{{A, 0, 0}, {0, A, 0}}, 3}));

TEST_F(SimTest, TxSendAndDeleteRejectBadIdsThenModes)
{
    ASSERT_EQ(gpioInitialise(), 79);
    CaptureStderr();
    EXPECT_EQ(gpioWaveTxSend(0, 4), PI_BAD_WAVE_ID);
    EXPECT_EQ(gpioWaveDelete(0), PI_BAD_WAVE_ID);
    ASSERT_EQ(makeWave(carrier(24, 1)), 0);
    ASSERT_EQ(makeWave(carrier(24, 1)), 1);
    EXPECT_EQ(gpioWaveTxSend(0, 4), PI_BAD_WAVE_MODE);
    EXPECT_EQ(gpioWaveDelete(0), 0);
    EXPECT_EQ(gpioWaveDelete(0), PI_BAD_WAVE_ID);
    EXPECT_EQ(gpioWaveTxSend(0, 0), PI_BAD_WAVE_ID);
    EXPECT_EQ(gpioWaveTxSend(2, 0), PI_BAD_WAVE_ID);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find(" gpioWaveTxSend: bad wave mode (4)\n"), std::string::npos);
    EXPECT_NE(err.find(" gpioWaveDelete: bad wave id (0)\n"), std::string::npos);
    EXPECT_NE(err.find(" gpioWaveTxSend: bad wave id (2)\n"), std::string::npos);
}

struct ReuseCase {
    const char* name;
    int waves; // equal waves of carrier(24, 1)
    std::vector<unsigned> deleted;
    int pulses; // the next wave's size
    int id;
};

class IdReuse : public SimTest, public ::testing::WithParamInterface<ReuseCase> {};

TEST_P(IdReuse, TopFirstOrExactFit)
{
    const ReuseCase& c = GetParam();
    ASSERT_EQ(gpioInitialise(), 79);
    for (int i = 0; i < c.waves; ++i) {
        ASSERT_EQ(makeWave(carrier(24, 1)), i);
    }
    for (unsigned id : c.deleted) {
        ASSERT_EQ(gpioWaveDelete(id), 0);
    }
    EXPECT_EQ(makeWave(carrier(24, c.pulses)), c.id);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdReuse,
                         ::testing::Values(ReuseCase{"TopId", 5, {4}, 2, 4},
                                           ReuseCase{"OnlyWave", 1, {0}, 3, 0},
                                           ReuseCase{"ExactFitInside", 5, {2}, 1, 2},
                                           ReuseCase{"OtherSizeGoesOnTop", 5, {2}, 2, 5},
                                           ReuseCase{"LowestOfFreedTop", 5, {2, 4, 3}, 2, 2},
                                           ReuseCase{"LowestExactFit", 5, {3, 1}, 1, 1}),
                         [](const auto& test) { return pascalCase(test.param.name); });

TEST_F(SimTest, At250LiveWavesNoId)
{
    ASSERT_EQ(gpioInitialise(), 79);
    for (int i = 0; i < PI_MAX_WAVES; ++i) {
        ASSERT_EQ(makeWave({{0, 0, 1}}), i);
    }
    EXPECT_EQ(makeWave({{0, 0, 1}, {0, 0, 1}}), PI_NO_WAVEFORM_ID);
    EXPECT_EQ(gpioWaveDelete(100), 0);
    EXPECT_EQ(gpioWaveCreate(), PI_NO_WAVEFORM_ID) << "id 100 fits another size only";
    EXPECT_EQ(gpioWaveAddNew(), 0);
    EXPECT_EQ(makeWave({{0, 0, 5}}), 100);
}

TEST_F(SimTest, ClearDropsEverythingButTheWaveInFlight)
{
    ASSERT_EQ(gpioInitialise(), 79);
    ASSERT_EQ(makeWave({{A, 0, 30}, {0, A, 10}}), 0);
    ASSERT_EQ(makeWave(carrier(24, 1)), 1);
    EXPECT_EQ(gpioWaveTxSend(0, PI_WAVE_MODE_ONE_SHOT), 5);
    EXPECT_EQ(gpioWaveAddGeneric(1, carrier(24, 1).data()), 1);
    EXPECT_EQ(gpioWaveClear(), 0);
    EXPECT_EQ(gpioWaveCreate(), PI_EMPTY_WAVEFORM);
    EXPECT_EQ(gpioWaveDelete(1), PI_BAD_WAVE_ID);
    EXPECT_EQ(makeWave(carrier(24, 11917)), 0) << "ids and pool start again";
    EXPECT_EQ(gpioWaveTxBusy(), 1);
    sleepMicros(60);
    EXPECT_EQ(edgesOf(24), (Edges{{20, 1}, {50, 0}}));
}
