// The unit calculators that turn the host's nanoseconds and rates into ticks.
#include "Corvanel_api.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

using fcs::test::Library;
using fcs::test::library_path;

TEST(CorvanelUnits, LagInTicksTruncatesTowardZero) {
    Library lib(library_path("Corvanel"));
    auto* mtau = FCS_FN(lib, corvanel, calcRealACFmtau);
    struct Case {
        std::int32_t m, c, ticks;
    };
    const std::int32_t min = std::numeric_limits<std::int32_t>::min();
    for (const Case k : {Case{1000000, 25, 40000}, Case{-7, 2, -3}, Case{7, -2, -3}, Case{99, 100, 0},
                         Case{min, 1, min}, Case{min, -2, 1073741824},
                         // no quotient exists: 0
                         Case{5, 0, 0}, Case{min, -1, 0}}) {
        EXPECT_EQ(mtau(k.m, k.c), k.ticks) << k.m << " / " << k.c;
    }
}

TEST(CorvanelUnits, DutyFactorMultipliesBeforeDividing) {
    Library lib(library_path("Corvanel"));
    auto* duty = FCS_FN(lib, corvanel, calcRealACFdutyFactor);
    EXPECT_EQ(duty(50000.0, 25), 0.00125);
    EXPECT_EQ(duty(0.0, 25), 0.0);
    // The rounding of (m * c) / 1e9, not of m * (c / 1e9).
    const double m = 88800.3;
    const std::int32_t c = 13;
    EXPECT_EQ(duty(m, c), m * 13.0 / 1e9);
    EXPECT_EQ(duty(-1000.0, 10), -1e-5);
}

}  // namespace
