// The time trace call by call: which call closes a bin, the count it
// returns and the empty bins it reports; set-up, the unit calculator and the
// results chosen where the stream or the set-up gives no bins.
#include "Trelvin_api.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::Library;
using fcs::test::library_path;

constexpr std::int32_t kOpen = -32000;  // the photon stayed in the open bin
constexpr std::int32_t kUntouched = -7;  // what emptybins holds before each call
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// One trelvin call: its tau, its result and, when it closes a bin, the empty
// bins it must write (otherwise emptybins must keep its value).
struct Step {
    std::uint32_t tau;
    std::int32_t result;
    std::int32_t empty = kUntouched;
};

class Trelvin : public ::testing::Test {
protected:
    Library lib{library_path("Trelvin")};
    trelvin_api::calcTrelvin_fn* calc = FCS_FN(lib, trelvin, calcTrelvin);
    trelvin_api::getTrelvinEmptyBins_fn* pending = FCS_FN(lib, trelvin, getTrelvinEmptyBins);
    trelvin_api::setupTrelvin_fn* setup = FCS_FN(lib, trelvin, setupTrelvin);
    trelvin_api::trelvin_fn* bin = FCS_FN(lib, trelvin, trelvin);

    // Runs the steps in order, checking each; the pending count reads 0 after
    // every call.
    void run(const std::vector<Step>& steps, const std::string& what) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            std::int32_t empty = kUntouched;
            EXPECT_EQ(bin(steps[i].tau, &empty), steps[i].result) << what << ", call " << i;
            EXPECT_EQ(empty, steps[i].result == kOpen ? kUntouched : steps[i].empty) << what << ", call " << i;
            EXPECT_EQ(pending(), 0) << what << ", call " << i;
        }
    }
};

TEST_F(Trelvin, WorkedExampleIsSilent) {
    // Photons at ticks 0, 3, 7, 12 and 42 in bins of 10: bin 0 holds three,
    // bin 1 one, bins 2 and 3 are empty and bin 4 stays open.
    const auto printed = capture([&] {
        EXPECT_EQ(setup(10), 10);
        EXPECT_EQ(pending(), 0);
        run({{3, kOpen}, {4, kOpen}, {5, 3, 0}, {30, 1, 2}}, "worked example");
    });
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, "");
}

TEST_F(Trelvin, BinBoundaries) {
    struct Case {
        const char* what;
        std::int32_t width;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"tau 0 stays in the open bin", 10, {{0, kOpen}, {0, kOpen}, {10, 3, 0}}},
        // The second call closes again only if the first left the offset at 0.
        {"exactly on the next boundary", 10, {{10, 1, 0}, {10, 1, 0}}},
        {"one tick short of the boundary", 10, {{9, kOpen}, {1, 2, 0}}},
        {"exactly k + 1 widths on", 10, {{30, 1, 2}, {9, kOpen}, {1, 2, 0}}},
        {"first photon beyond the origin's bin", 10, {{25, 1, 1}, {4, kOpen}, {1, 2, 0}}},
        {"width 1 closes at every tick", 1, {{0, kOpen}, {0, kOpen}, {1, 3, 0}, {3, 1, 2}}},
        // 2^31 - 2 + 2^32 - 1 ticks is exactly three widths: a 32-bit offset
        // would have overflowed.
        {"largest width, largest tau", kMax, {{0x7FFFFFFE, kOpen}, {0xFFFFFFFF, 2, 2}, {1, kOpen}}},
        {"largest tau, small width", 10, {{0xFFFFFFFF, 1, 429496728}, {5, 1, 0}}},
        // Beyond INT32_MAX empty bins, emptybins receives INT32_MAX.
        {"empty bins up to 32 signed bits", 1,
         {{0x80000000, 1, kMax}, {0x80000001, 1, kMax}, {0xFFFFFFFF, 1, kMax}, {2, 1, 1}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(setup(c.width), c.width);
        run(c.steps, c.what);
    }
}

TEST_F(Trelvin, WithoutBinsNothingIsCounted) {
    // Right after the load, and after a set-up with a width below 1: every
    // call returns -32000 and leaves emptybins alone, whatever tau.
    const std::vector<Step> no_bins = {{0, kOpen}, {5, kOpen}, {0xFFFFFFFF, kOpen}, {0xFFFFFFFF, kOpen}};
    const auto printed = capture([&] {
        EXPECT_EQ(pending(), 0);
        run(no_bins, "after the load");
        for (std::int32_t width : {0, -3, kMin}) {
            EXPECT_EQ(setup(width), width);
            run(no_bins, "width " + std::to_string(width));
        }
    });
    EXPECT_EQ(printed.out + printed.err, "");

    // A later set-up starts an ordinary trace: one photon, the origin.
    ASSERT_EQ(setup(10), 10);
    run({{4, kOpen}, {6, 2, 0}}, "set up after calls without bins");

    // A reload forgets the set-up.
    ASSERT_EQ(setup(10), 10);
    lib.reload();
    bin = FCS_FN(lib, trelvin, trelvin);
    pending = FCS_FN(lib, trelvin, getTrelvinEmptyBins);
    run({{10, kOpen}, {25, kOpen}}, "after a reload");
}

TEST_F(Trelvin, SetUpMidStreamDropsTheOpenBin) {
    ASSERT_EQ(setup(10), 10);
    run({{3, kOpen}, {3, kOpen}}, "old trace");  // open bin: 3 photons, offset 6
    ASSERT_EQ(setup(10), 10);
    run({{4, kOpen}, {6, 2, 0}}, "same width, new origin");
    ASSERT_EQ(setup(5), 5);
    run({{4, kOpen}, {7, 2, 1}}, "new width, new origin");
}

TEST_F(Trelvin, NullEmptybinsLosesOnlyTheEmptyBinCount) {
    ASSERT_EQ(setup(10), 10);
    EXPECT_EQ(bin(25, nullptr), 1);
    EXPECT_EQ(bin(4, nullptr), kOpen);
    run({{1, 2, 0}}, "after a null emptybins");
}

TEST_F(Trelvin, CalcTrelvinDividesWholeMultiplesOnly) {
    const auto message = [](long width, long period) {
        return "\ncalcIpt2bin: ERROR requesting binwidth (" + std::to_string(width) +
               ") [ns]not integral multiple of clockPeriod " + std::to_string(period) + " [ns]";
    };
    struct Case {
        std::int32_t width_ns, period_ns, ticks;
        std::string err;
    };
    const Case cases[] = {
        {100, 25, 4, ""},
        {100, 30, 0, message(100, 30)},
        {-100, 25, -4, ""},
        {-100, 30, 0, message(-100, 30)},
        {100, -25, -4, ""},
        {0, 25, 0, ""},
        {kMax, kMax, 1, ""},
        {kMin, 1, kMin, ""},
        {kMin, 2, -1073741824, ""},
        // A period of 0 divides nothing; INT32_MIN / -1 has no 32-bit quotient.
        {100, 0, 0, message(100, 0)},
        {0, 0, 0, message(0, 0)},
        {kMin, -1, 0, ""},
    };
    // The calculator leaves an open trace alone.
    ASSERT_EQ(setup(10), 10);
    run({{3, kOpen}}, "before the calculator");
    for (const auto& c : cases) {
        const auto printed = capture([&] { EXPECT_EQ(calc(c.width_ns, c.period_ns), c.ticks) << c.width_ns << " / " << c.period_ns; });
        EXPECT_EQ(printed.out, "");
        EXPECT_EQ(printed.err, c.err);
    }
    run({{7, 2, 0}}, "after the calculator");
}

}  // namespace
