#include "chain/tap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::Tap;
using sim::TapState;

TapState Walk(TapState From, const std::string& Tms)
{
    TapState s = From;
    for (char c : Tms)
        s = sim::NextTapState(s, c == '1');
    return s;
}

TEST(TapTest, FiveTmsHighReachResetFromEveryState)
{
    for (int i = 0; i < sim::TapStateCount; ++i) {
        const auto s = static_cast<TapState>(i);
        EXPECT_EQ(Walk(s, "11111"), TapState::RESET) << sim::TapStateName(s);
    }
}

TEST(TapTest, StableAndShiftStatesHoldUnderTheirTmsLevel)
{
    const struct {
        TapState State;
        bool Tms;
    } holds[] = {{TapState::RESET, true},   {TapState::IDLE, false},    {TapState::DRPAUSE, false},
                 {TapState::IRPAUSE, false}, {TapState::DRSHIFT, false}, {TapState::IRSHIFT, false}};
    for (const auto& h : holds)
        EXPECT_EQ(sim::NextTapState(h.State, h.Tms), h.State) << sim::TapStateName(h.State);
    int stable = 0;
    for (int i = 0; i < sim::TapStateCount; ++i)
        stable += sim::IsStableTapState(static_cast<TapState>(i));
    EXPECT_EQ(stable, 4);
}

struct PathCase {
    TapState From;
    const char* Tms;
    TapState To;
};

class TapPaths : public testing::TestWithParam<PathCase> {};

// The walks an SVF player makes between its stable states.
TEST_P(TapPaths, WalkEndsWhereTheStandardSays)
{
    const PathCase& c = GetParam();
    EXPECT_EQ(Walk(c.From, c.Tms), c.To);
}

INSTANTIATE_TEST_SUITE_P(
    Svf, TapPaths,
    testing::Values(PathCase{TapState::RESET, "0", TapState::IDLE}, PathCase{TapState::IDLE, "100", TapState::DRSHIFT},
                    PathCase{TapState::IDLE, "1100", TapState::IRSHIFT},
                    PathCase{TapState::DRSHIFT, "10", TapState::DRPAUSE},
                    PathCase{TapState::DRSHIFT, "110", TapState::IDLE},
                    PathCase{TapState::DRPAUSE, "110", TapState::IDLE},
                    PathCase{TapState::DRPAUSE, "10", TapState::DRSHIFT},
                    PathCase{TapState::IRPAUSE, "11100", TapState::DRSHIFT},
                    PathCase{TapState::IRPAUSE, "111100", TapState::IRSHIFT},
                    PathCase{TapState::IREXIT1, "10", TapState::IDLE},
                    PathCase{TapState::DRSELECT, "11", TapState::RESET},
                    PathCase{TapState::DRUPDATE, "1", TapState::DRSELECT},
                    PathCase{TapState::IRUPDATE, "0", TapState::IDLE},
                    PathCase{TapState::DRCAPTURE, "1", TapState::DREXIT1},
                    PathCase{TapState::IREXIT2, "0", TapState::IRSHIFT}),
    [](const testing::TestParamInfo<PathCase>& info) {
        return std::string(sim::TapStateName(info.param.From)) + "_" + info.param.Tms;
    });

TEST(TapTest, ClockMovesAndResetReturnsWithoutAClock)
{
    Tap t;
    t.Clock(false);
    t.Clock(true);
    t.Clock(false);
    EXPECT_EQ(t.State(), TapState::DRCAPTURE);
    t.Reset();
    EXPECT_EQ(t.State(), TapState::RESET);
}

} // namespace
