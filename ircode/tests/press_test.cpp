#include "press.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct Step {
    bool isMark;
    std::uint32_t us;
};

struct AppendCase {
    const char* name;
    std::vector<Step> steps;
    const char* text;
};

class AppendTest : public ::testing::TestWithParam<AppendCase> {};

// Encoders write bits as their protocols define them; the press must still
// alternate, start with a mark and hold no zero-length duration.
TEST_P(AppendTest, Alternates)
{
    std::vector<std::uint32_t> durations;
    for (const Step& step : GetParam().steps)
        appendDuration(&durations, step.isMark, step.us);
    EXPECT_EQ(durationText(durations), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Press, AppendTest,
    ::testing::Values(
        AppendCase{"alternating", {{true, 9000}, {false, 4500}, {true, 560}}, "+9000 -4500 +560"},
        AppendCase{"marks_merge", {{true, 889}, {true, 889}, {false, 889}}, "+1778 -889"},
        AppendCase{
            "spaces_merge", {{true, 444}, {false, 444}, {false, 888}, {true, 1}}, "+444 -1332 +1"},
        AppendCase{"leading_space_dropped", {{false, 889}, {true, 889}, {false, 889}}, "+889 -889"},
        AppendCase{"zero_is_nothing", {{true, 600}, {false, 0}, {true, 1200}}, "+1800"},
        AppendCase{"empty", {}, ""}),
    [](const ::testing::TestParamInfo<AppendCase>& test) { return test.param.name; });

} // namespace
