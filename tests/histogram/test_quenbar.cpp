// Quenbar: the histogram in the library's count buffer (signed counting),
// its two text writers, the conversion of an inter-photon time file, and the
// unsigned counting into the host's array with the same range.
#include "Quenbar_api.h"
#include "histogram_support.h"
#include "host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::count_lines;
using fcs::test::GuardedArray;
using fcs::test::Library;
using fcs::test::library_path;
using fcs::test::photon_file;
using fcs::test::read_file;
using fcs::test::text_file;
using fcs::test::write_file;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
const std::string kAllocationFailed = "setupQuenbar: ERROR Memory allocation failed\n";

std::vector<std::int32_t> slots(std::size_t size, std::initializer_list<std::pair<std::size_t, std::int32_t>> at) {
    std::vector<std::int32_t> v(size, 0);
    for (auto [k, n] : at) v[k] = n;
    return v;
}

class Quenbar : public ::testing::Test {
protected:
    Library lib{library_path("Quenbar")};
    quenbar_api::setupQuenbar_fn* setup = FCS_FN(lib, quenbar, setupQuenbar);
    quenbar_api::addpnt_fn* addpnt = FCS_FN(lib, quenbar, addpnt);
    quenbar_api::addpntArrIO_fn* addpnt_arr = FCS_FN(lib, quenbar, addpntArrIO);
    quenbar_api::getQuenbarCopy_fn* get_copy = FCS_FN(lib, quenbar, getQuenbarCopy);
    quenbar_api::writeQuenbar_fn* write = FCS_FN(lib, quenbar, writeQuenbar);
    quenbar_api::clearQuenbar_fn* clear = FCS_FN(lib, quenbar, clearQuenbar);
    quenbar_api::file2acf_fn* file2acf = FCS_FN(lib, quenbar, file2acf);
    fcs::test::TempDir dir;

    // The counts that getQuenbarCopy hands to an array of `size` slots;
    // fails the test if it writes past them.
    std::vector<std::int32_t> copy(std::size_t size) {
        GuardedArray host(size);
        get_copy(host.data());
        EXPECT_TRUE(host.guards_intact()) << "getQuenbarCopy wrote past " << size << " slots";
        return host.counts();
    }

    // getQuenbarCopy writes nothing at all into an array filled with -7.
    bool copy_writes_nothing() {
        GuardedArray host(4, -7);
        get_copy(host.data());
        return host.guards_intact() && host.counts() == std::vector<std::int32_t>(4, -7);
    }

    void write_to(std::string path) { write(path.data()); }
    void convert(std::string in, std::string out, std::int32_t lb, std::int32_t ub, std::int32_t itv) {
        file2acf(in.data(), out.data(), lb, ub, itv);
    }
};

TEST_F(Quenbar, CountsEachValueIntoItsSlotSilently) {
    struct Case {
        const char* what;
        std::int32_t lb, ub, itv;
        std::vector<std::int32_t> values;
        std::vector<std::int32_t> expected;  // all bin count + 2 slots
    };
    const Case cases[] = {
        {"0..100 by 10: 100 in the end slot", 0, 100, 10, {0, 9, 10, 99, 100, 101, -1},
         slots(12, {{0, 2}, {1, 1}, {9, 1}, {10, 1}})},
        {"10..35 by 10: 35 in the cut-off last bin", 10, 35, 10, {9, 10, 19, 20, 35, 36},
         slots(5, {{0, 2}, {1, 1}, {2, 1}})},
        {"0..101 by 10: 100 and 101 in the last regular bin", 0, 101, 10, {100, 101, 102}, slots(13, {{10, 2}})},
        {"50..50: one end slot", 50, 50, 10, {49, 50, 51}, slots(2, {{0, 1}})},
        {"itv 1: one value per bin", 5, 8, 1, {4, 5, 6, 7, 8, 9}, slots(5, {{0, 1}, {1, 1}, {2, 1}, {3, 1}})},
        {"negative lb compares signed", -100, 100, 10, {-101, -100, -91, -90, -1, 0, 99, 100, 101},
         slots(22, {{0, 2}, {1, 1}, {9, 1}, {10, 1}, {19, 1}, {20, 1}})},
        {"range at the top of 32 bits", kMax - 20, kMax, 10, {kMax - 21, kMax - 11, kMax, kMin},
         slots(4, {{0, 1}, {2, 1}})},
        {"range at the bottom of 32 bits", kMin, kMin + 25, 10, {kMin, kMin + 25, kMin + 26, -1, kMax},
         slots(5, {{0, 1}, {2, 1}})},
        {"widest range, one wide bin", 0, kMax, kMax, {-1, 0, kMax - 1, kMax}, slots(3, {{0, 2}, {1, 1}})},
    };
    for (const auto& c : cases) {
        const auto printed = capture([&] {
            setup(c.lb, c.ub, c.itv);
            for (std::int32_t v : c.values) addpnt(v);
        });
        EXPECT_EQ(printed.out + printed.err, "") << c.what;
        EXPECT_EQ(copy(c.expected.size()), c.expected) << c.what;
    }
}

TEST_F(Quenbar, NewSetUpStartsFromZeroAndReleasesTheOldBuffer) {
    setup(0, 100, 10);
    addpnt(5);
    setup(0, 100, 10);  // without clearQuenbar: the earlier buffer must not leak
    EXPECT_EQ(copy(12), slots(12, {}));
    addpnt(15);
    EXPECT_EQ(copy(12), slots(12, {{1, 1}}));

#ifndef __SANITIZE_ADDRESS__  // there the leak check at exit covers it
    // Large blocks are mapped on their own, so the mapped total shows them.
    const auto mapped = fcs::test::large_block_bytes;
    const auto before = mapped();
    for (int i = 0; i < 3; ++i) setup(0, 50'000'000, 1);  // 200 MB each
    EXPECT_LT(mapped(), before + 250'000'000);
    clear();
    EXPECT_LT(mapped(), before + 1'000'000);
#endif
}

TEST_F(Quenbar, WritersDifferInSlotsWritten) {
    const std::string records = dir.file("in.bin"), converted = dir.file("conv.txt"), written = dir.file("all.txt");
    const std::vector<std::uint32_t> values = {0, 5, 55, 100, 100, 101};
    write_file(records, photon_file(values));

    const auto printed = capture([&] {
        convert(records, converted, 0, 100, 10);
        write_to(written);
    });
    EXPECT_EQ(printed.out + printed.err, "");
    // file2acf writes the regular bins only, writeQuenbar the end and spare slots too.
    EXPECT_EQ(read_file(converted), text_file("2\n0\n0\n0\n0\n1\n0\n0\n0\n0\n"));
    EXPECT_EQ(read_file(written), text_file("2\n0\n0\n0\n0\n1\n0\n0\n0\n0\n2\n0\n"));
    EXPECT_EQ(copy(12), slots(12, {{0, 2}, {5, 1}, {10, 2}}));

    // The histogram of the file stays current: addpnt adds to it, and a write
    // replaces an existing file.
    addpnt(99);
    write_to(written);
    EXPECT_EQ(read_file(written), text_file("2\n0\n0\n0\n0\n1\n0\n0\n0\n1\n2\n0\n"));
}

TEST_F(Quenbar, EmptyRangeWritesTwoLinesAndAnEmptyConversion) {
    const std::string records = dir.file("in.bin"), converted = dir.file("conv.txt"), written = dir.file("all.txt");
    write_file(records, photon_file({49, 50, 50, 51}));
    convert(records, converted, 50, 50, 10);
    write_to(written);
    EXPECT_EQ(read_file(converted), "");
    EXPECT_EQ(read_file(written), text_file("2\n0\n"));
}

TEST_F(Quenbar, ConversionCountsWholeRecordsOnly) {
    // -7 has its top bit set: below lb 0 it is ignored, from lb -100 it counts.
    const std::vector<std::uint32_t> values = {3, 15, 100, static_cast<std::uint32_t>(-7), 0x7fffffff, 50, 0};
    struct Case {
        std::int32_t lb;
        std::size_t trailing;
        std::string lines;
    };
    const Case cases[] = {
        {0, 0, text_file("2\n1\n0\n0\n0\n1\n0\n0\n0\n0\n")},
        {0, 1, text_file("2\n1\n0\n0\n0\n1\n0\n0\n0\n0\n")},
        {0, 2, text_file("2\n1\n0\n0\n0\n1\n0\n0\n0\n0\n")},
        {0, 3, text_file("2\n1\n0\n0\n0\n1\n0\n0\n0\n0\n")},
        {-100, 3, count_lines(slots(20, {{9, 1}, {10, 2}, {11, 1}, {15, 1}}), 20)},
    };
    const std::string records = dir.file("in.bin"), converted = dir.file("conv.txt");
    for (const auto& c : cases) {
        write_file(records, photon_file(values, c.trailing));
        const auto printed = capture([&] { convert(records, converted, c.lb, 100, 10); });
        EXPECT_EQ(printed.out + printed.err, "");
        EXPECT_EQ(read_file(converted), c.lines) << c.trailing << " trailing bytes, lb " << c.lb;
    }
    // An empty file: bin count lines of 0, nothing counted in any slot.
    write_file(records, "");
    convert(records, converted, 0, 100, 10);
    EXPECT_EQ(read_file(converted), count_lines(slots(10, {}), 10));
    EXPECT_EQ(copy(12), slots(12, {}));
}

TEST_F(Quenbar, ConversionOfAMissingFileReportsItAndKeepsTheHistogram) {
    setup(0, 100, 10);
    addpnt(5);
    const std::string missing = dir.file("no such file.bin"), converted = dir.file("conv.txt");
    const auto printed = capture([&] { convert(missing, converted, 0, 50, 5); });
    EXPECT_EQ(printed.err, "file2acf: ERROR fail to open " + missing);
    EXPECT_EQ(printed.out, "");
    EXPECT_FALSE(std::filesystem::exists(converted));
    EXPECT_EQ(copy(12), slots(12, {{0, 1}}));  // no new set-up happened
}

TEST_F(Quenbar, ConversionIntoAnUnwritablePathKeepsTheHistogramCurrent) {
    const std::string records = dir.file("in.bin");
    write_file(records, photon_file({5, 100}));
    const auto printed = capture([&] { convert(records, dir.file("missing/dir/out.txt"), 0, 100, 10); });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(copy(12), slots(12, {{0, 1}, {10, 1}}));
}

TEST_F(Quenbar, WriteToAnUnwritablePathReportsThePathInQuotes) {
    setup(0, 20, 10);
    addpnt(20);
    const std::string bad = dir.file("missing/out.txt"), good = dir.file("out.txt");
    const auto printed = capture([&] { write_to(bad); });
    EXPECT_EQ(printed.err, "writeQuenbar: ERROR Unable to open output file '" + bad + "'\n");
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(copy(4), slots(4, {{2, 1}}));

    EXPECT_EQ(capture([&] { write_to(good); }).err, "");
    EXPECT_EQ(read_file(good), text_file("0\n0\n1\n0\n"));
}

TEST_F(Quenbar, WithoutAHistogramNothingIsCountedCopiedOrWritten) {
    const std::string out = dir.file("out.txt");
    const auto untouched = [&](const char* when) {
        const auto printed = capture([&] {
            addpnt(5);
            addpnt(0);
            write_to(out);
        });
        EXPECT_EQ(printed.out + printed.err, "") << when;
        EXPECT_TRUE(copy_writes_nothing()) << when;
        EXPECT_FALSE(std::filesystem::exists(out)) << when;
    };

    untouched("before any set-up");
    EXPECT_EQ(capture([&] { clear(); }).err, "");  // a release with nothing to release

    setup(0, 100, 10);
    addpnt(5);
    clear();
    untouched("after clearQuenbar");
    clear();

    setup(0, 100, 10);
    EXPECT_EQ(capture([&] { setup(0, 100, 0); }).err, kAllocationFailed);
    untouched("after a failed set-up");

    // A later set-up works again, from zero.
    setup(0, 100, 10);
    addpnt(100);
    EXPECT_EQ(copy(12), slots(12, {{10, 1}}));
}

TEST_F(Quenbar, RangesTheSetUpCannotWorkWithFailLikeAFailedAllocation) {
    struct Case {
        const char* what;
        std::int32_t lb, ub, itv;
    };
    const Case cases[] = {
        {"itv 0", 0, 100, 0},
        {"negative itv", 0, 100, -10},
        {"lb above ub", 100, 0, 10},
        {"lb above ub by less than one bin", 10, 5, 10},
        {"signed lb above ub, ordered as unsigned", 100, -100, 10},
        {"width one beyond INT32_MAX", -2, kMax - 1, 10},
        {"whole 32-bit range", kMin, kMax, 1},
        {"whole 32-bit range in one bin", kMin, kMax, kMax},
    };
    const std::string records = dir.file("in.bin"), converted = dir.file("conv.txt"), written = dir.file("all.txt");
    write_file(records, photon_file({0, 5, 100, static_cast<std::uint32_t>(-100)}));
    for (const auto& c : cases) {
        setup(0, 100, 10);  // a working histogram first: the failure replaces it
        addpnt(5);
        const auto printed = capture([&] {
            setup(c.lb, c.ub, c.itv);
            for (std::int32_t v : {c.lb, c.ub, 0, 5, 100, -100, kMin, kMax}) addpnt(v);
            write_to(written);
        });
        EXPECT_EQ(printed.err, kAllocationFailed) << c.what;
        EXPECT_EQ(printed.out, "") << c.what;
        EXPECT_TRUE(copy_writes_nothing()) << c.what;
        EXPECT_FALSE(std::filesystem::exists(written)) << c.what;

        // Nor does the host's array see anything with such a range.
        GuardedArray host(4);
        for (std::int32_t v : {c.lb, c.ub, 0, 5, 100, -100, kMin, kMax}) addpnt_arr(host.data(), static_cast<std::uint32_t>(v));
        EXPECT_EQ(host.counts(), slots(4, {})) << c.what;
        EXPECT_TRUE(host.guards_intact()) << c.what;

        // Inside file2acf the failed set-up counts nothing and writes nothing.
        const auto converting = capture([&] { convert(records, converted, c.lb, c.ub, c.itv); });
        EXPECT_EQ(converting.err, kAllocationFailed) << c.what;
        EXPECT_FALSE(std::filesystem::exists(converted)) << c.what;
        EXPECT_TRUE(copy_writes_nothing()) << c.what;
    }
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer reserves far more address space than the limit below
TEST_F(Quenbar, BufferThatCannotBeHadLeavesNoHistogramButKeepsTheRange) {
    // In a child process where the library gets no block of 2 GiB or more,
    // far below the 8 GiB that 2^31 + 1 counts need; it exits with 0 when
    // everything held.
    const auto child = [&] {
        if (!fcs::test::refuse_allocations_from(lib, std::size_t{2} << 30)) std::_Exit(2);
        setup(0, 100, 10);
        addpnt(5);
        const auto printed = capture([&] {
            setup(kMin, -1, 1);
            addpnt(kMin);
        });
        // The kept range still counts into the host's array, unsigned:
        // 2^31 + 3 lies 3 above lb.
        GuardedArray host(5);
        addpnt_arr(host.data(), 0x80000003u);
        const bool ok = printed.err == kAllocationFailed && printed.out.empty() && copy_writes_nothing() &&
                        host.counts() == slots(5, {{3, 1}}) && host.guards_intact();
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}
#endif

TEST_F(Quenbar, HostArrayCountsUnsignedAndLeavesTheCountBufferAlone) {
    // Before any set-up the range is all zero and counts nothing.
    GuardedArray first(4);
    addpnt_arr(first.data(), 0);
    addpnt_arr(first.data(), 1);
    EXPECT_EQ(first.counts(), slots(4, {}));

    setup(0, 100, 10);
    GuardedArray host(12);
    const auto printed = capture([&] {
        for (std::uint32_t v : {0u, 9u, 10u, 100u, 101u, 0xffffffffu, 0x80000000u}) addpnt_arr(host.data(), v);
    });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(host.counts(), slots(12, {{0, 2}, {1, 1}, {10, 1}}));
    EXPECT_EQ(copy(12), slots(12, {}));

    // clearQuenbar keeps the range for the host's array.
    clear();
    addpnt_arr(host.data(), 55);
    EXPECT_EQ(host.counts(), slots(12, {{0, 2}, {1, 1}, {5, 1}, {10, 1}}));
    EXPECT_TRUE(host.guards_intact());
}

TEST_F(Quenbar, NegativeLbCountsSignedInTheBufferAndNothingInTheHostArray) {
    setup(-100, 100, 10);
    GuardedArray host(22);
    for (std::int32_t v : {-100, -95, 0, 100}) {
        addpnt(v);
        addpnt_arr(host.data(), static_cast<std::uint32_t>(v));
    }
    // As unsigned numbers lb lies above ub, so nothing passes both tests.
    EXPECT_EQ(host.counts(), slots(22, {}));
    EXPECT_TRUE(host.guards_intact());
    EXPECT_EQ(copy(22), slots(22, {{0, 2}, {10, 1}, {20, 1}}));
}

TEST_F(Quenbar, RandomStreamsMatchABruteForceHistogram) {
    struct Case {
        std::int32_t lb, ub, itv;
    };
    const Case cases[] = {{0, 1000, 7}, {-500, 500, 10}, {100, 100, 3}, {3, 50, 1},
                          {kMax - 100, kMax, 9}, {kMin, kMin + 64, 8}, {-1000, -10, 33}};
    std::uint32_t seed = 1;
    for (const auto& c : cases) {
        const auto values = fcs::test::random_values(20000, c.lb, c.ub, c.itv, seed++);
        const std::int64_t width = std::int64_t{c.ub} - c.lb;
        const auto size = static_cast<std::size_t>((width + c.itv - 1) / c.itv) + 2;
        const auto signed_counts = fcs::test::reference_histogram(fcs::test::as_signed(values), c.lb, c.ub, c.itv, size);

        // addpnt, one call per value.
        setup(c.lb, c.ub, c.itv);
        GuardedArray host(size);
        for (std::uint32_t v : values) {
            addpnt(static_cast<std::int32_t>(v));
            addpnt_arr(host.data(), v);
        }
        EXPECT_EQ(copy(size), signed_counts) << "lb " << c.lb;

        // addpntArrIO compares unsigned, within the same array size.
        const auto unsigned_counts = fcs::test::reference_histogram(
            fcs::test::as_unsigned(values), static_cast<std::uint32_t>(c.lb), static_cast<std::uint32_t>(c.ub), c.itv, size);
        EXPECT_EQ(host.counts(), unsigned_counts) << "lb " << c.lb;
        EXPECT_TRUE(host.guards_intact());

        // file2acf on the same stream as a file (several read blocks long).
        const std::string records = dir.file("in.bin"), converted = dir.file("conv.txt");
        write_file(records, fcs::test::photon_file(values, 2));
        convert(records, converted, c.lb, c.ub, c.itv);
        EXPECT_EQ(read_file(converted), count_lines(signed_counts, size - 2)) << "lb " << c.lb;
        EXPECT_EQ(copy(size), signed_counts) << "lb " << c.lb;
    }
}

}  // namespace
