// Quenlith: the histogram in the host's array, with the range compared as
// unsigned 32-bit numbers.
#include "Quenlith_api.h"
#include "histogram_support.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::GuardedArray;
using fcs::test::Library;
using fcs::test::library_path;

constexpr std::uint32_t kTop = 0xffffffffu;

class Quenlith : public ::testing::Test {
protected:
    Library lib{library_path("Quenlith")};
    quenlith_api::setupQuenlith_fn* setup = FCS_FN(lib, quenlith, setupQuenlith);
    quenlith_api::addpntArrIO_fn* addpnt_arr = FCS_FN(lib, quenlith, addpntArrIO);

    // Counts `values` into a fresh host array of exactly `size` counts after
    // setupQuenlith(lb, ub, itv); fails the test on a write past the array
    // or on any output.
    std::vector<std::int32_t> counted(std::int32_t lb, std::int32_t ub, std::int32_t itv,
                                      const std::vector<std::uint32_t>& values, std::size_t size) {
        GuardedArray host(size);
        const auto printed = capture([&] {
            setup(lb, ub, itv);
            for (std::uint32_t v : values) addpnt_arr(host.data(), v);
        });
        EXPECT_EQ(printed.out + printed.err, "");
        EXPECT_TRUE(host.guards_intact()) << "wrote past " << size << " slots";
        return host.counts();
    }
};

std::vector<std::int32_t> slots(std::size_t size, std::initializer_list<std::pair<std::size_t, std::int32_t>> at) {
    std::vector<std::int32_t> v(size, 0);
    for (auto [k, n] : at) v[k] = n;
    return v;
}

TEST_F(Quenlith, CountsEachValueIntoItsSlot) {
    struct Case {
        const char* what;
        std::int32_t lb, ub, itv;
        std::vector<std::uint32_t> values;
        std::vector<std::int32_t> expected;  // (ub - lb) / itv + 1 slots
    };
    const Case cases[] = {
        {"0..100 by 10: 100 alone in slot 10", 0, 100, 10, {0, 9, 10, 99, 100, 101, kTop},
         slots(11, {{0, 2}, {1, 1}, {9, 1}, {10, 1}})},
        {"10..35 by 10", 10, 35, 10, {9, 10, 19, 20, 35, 36}, slots(3, {{0, 2}, {1, 1}, {2, 1}})},
        {"50..50: one slot", 50, 50, 10, {49, 50, 51}, slots(1, {{0, 1}})},
        {"negative bounds are high unsigned values", -1000, -1, 100, {kTop, kTop - 999, kTop - 1000, 0, 5},
         slots(10, {{0, 1}, {9, 1}})},
        {"the whole unsigned range in four bins", 0, -1, 1 << 30, {0, (1u << 30) - 1, 1u << 30, 1u << 31, kTop},
         slots(4, {{0, 2}, {1, 1}, {2, 1}, {3, 1}})},
        {"highest slot INT32_MAX is still counted", 0, -1, 2, {0, 7}, slots(4, {{0, 1}, {3, 1}})},
        {"largest positive ub", 0, 0x7fffffff, 1, {3, 0x80000000u, kTop}, slots(4, {{3, 1}})},
    };
    for (const auto& c : cases) EXPECT_EQ(counted(c.lb, c.ub, c.itv, c.values, c.expected.size()), c.expected) << c.what;
}

TEST_F(Quenlith, RangesThatCannotBeCountedCountNothing) {
    struct Case {
        const char* what;
        std::int32_t lb, ub, itv;
    };
    const Case cases[] = {
        {"lb -100 lies above ub 100 as unsigned", -100, 100, 10},
        {"lb above ub", 5, 3, 1},
        {"itv 0", 0, 100, 0},
        {"negative itv", 0, 100, -10},
        {"highest slot beyond INT32_MAX", 0, -1, 1},
        {"highest slot INT32_MAX + 1", 0, static_cast<std::int32_t>(0x80000000u), 1},
    };
    for (const auto& c : cases) {
        const auto lb = static_cast<std::uint32_t>(c.lb), ub = static_cast<std::uint32_t>(c.ub);
        EXPECT_EQ(counted(c.lb, c.ub, c.itv, {lb, ub, lb + 1, 0, 1, 5, 100, kTop}, 4), slots(4, {})) << c.what;
    }
}

TEST_F(Quenlith, CountsNothingBeforeItsSetUpAndNothingIntoANullArray) {
    GuardedArray host(4);
    addpnt_arr(host.data(), 0);
    addpnt_arr(host.data(), 3);
    EXPECT_EQ(host.counts(), slots(4, {}));
    EXPECT_TRUE(host.guards_intact());

    setup(0, 10, 1);
    addpnt_arr(nullptr, 3);  // no crash
    addpnt_arr(host.data(), 3);
    EXPECT_EQ(host.counts(), slots(4, {{3, 1}}));
}

TEST_F(Quenlith, CountsAddUpAcrossSetUpsUntilTheHostClearsThem) {
    GuardedArray host(11);
    setup(0, 100, 10);
    addpnt_arr(host.data(), 15);
    addpnt_arr(host.data(), 100);
    setup(10, 35, 10);  // takes effect from the next call, on the same array
    addpnt_arr(host.data(), 15);
    addpnt_arr(host.data(), 100);
    EXPECT_EQ(host.counts(), slots(11, {{0, 1}, {1, 1}, {10, 1}}));
    EXPECT_TRUE(host.guards_intact());
}

TEST_F(Quenlith, RandomStreamsMatchABruteForceHistogram) {
    struct Case {
        std::int32_t lb, ub, itv;
    };
    const Case cases[] = {{0, 1000, 7},   {3, 50, 1},  {100, 100, 3}, {-1000, -10, 33},
                          {-64, -1, 8},   {0x7fffff00, static_cast<std::int32_t>(0x80000100u), 16},
                          {0, -1, 1 << 26}};
    std::uint32_t seed = 100;
    for (const auto& c : cases) {
        const std::int64_t lb = static_cast<std::uint32_t>(c.lb), ub = static_cast<std::uint32_t>(c.ub);
        const auto size = static_cast<std::size_t>((ub - lb) / c.itv + 1);
        const auto values = fcs::test::random_values(20000, lb, ub, c.itv, seed++);
        const auto expected = fcs::test::reference_histogram(fcs::test::as_unsigned(values), lb, ub, c.itv, size);
        EXPECT_EQ(counted(c.lb, c.ub, c.itv, values, size), expected) << "lb " << c.lb << " ub " << c.ub;
    }
}

}  // namespace
