// Corvanel's files: the count file (writeRealACFraw2CSV), the conversion of an
// inter-photon time file into a lag and count file (file2acf), and the
// agreement of every form of the correlator on recorded streams.
#include "Corvanel_api.h"
#include "host.h"
#include "pair_reference.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::Library;
using fcs::test::library_path;
using fcs::test::read_file;
using fcs::test::TempDir;
using fcs::test::text_file;
using fcs::test::write_file;

// Little-endian 4-byte records, optionally followed by stray bytes.
std::string records(const std::vector<std::uint32_t>& values, std::string_view trailing = "") {
    std::string bytes;
    for (std::uint32_t v : values)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((v >> shift) & 0xFF));
    return bytes.append(trailing);
}

std::string format(const char* fmt, double lag, std::int32_t count) {
    char line[64];
    std::snprintf(line, sizeof line, fmt, lag, count);
    return line;
}

// The lag and count file of the first `lines` counts, lag k = k * clock_ns.
std::string lag_file(const std::vector<std::int32_t>& counts, std::size_t lines, double clock_ns) {
    std::string text;
    for (std::size_t k = 0; k < lines; ++k) text += format("%f\t%d\n", static_cast<double>(k) * clock_ns, counts[k]);
    return text;
}

std::string wrote(const std::string& path, long points) {
    return "writeRealACFtoCSV: acf (" + std::to_string(points) + " pnts) written (1 pnt/line) to " + path + "\n";
}

class CorvanelFiles : public ::testing::Test {
protected:
    Library lib{library_path("Corvanel")};
    corvanel_api::setupRealACF_fn* setup = FCS_FN(lib, corvanel, setupRealACF);
    corvanel_api::realACFraw_fn* raw = FCS_FN(lib, corvanel, realACFraw);
    corvanel_api::realACFrawArrIO_fn* raw_arr = FCS_FN(lib, corvanel, realACFrawArrIO);
    corvanel_api::writeRealACFraw2CSV_fn* write_counts = FCS_FN(lib, corvanel, writeRealACFraw2CSV);
    corvanel_api::file2acf_fn* convert = FCS_FN(lib, corvanel, file2acf);
    TempDir dir;

    // The count file as writeRealACFraw2CSV writes it now; its message must be the success message.
    std::string counts_now(std::int32_t mtau) {
        std::string path = dir.file("now.txt");
        const auto printed = capture([&] { EXPECT_EQ(write_counts(path.data()), mtau); });
        EXPECT_EQ(printed.out, wrote(path, mtau));
        EXPECT_EQ(printed.err, "");
        return read_file(path);
    }
};

TEST_F(CorvanelFiles, ConvertsInterPhotonTimeFiles) {
    // Photons at ticks 0, 3, 7 and 12, with mtau 10.
    const std::string example =
        "0.000000\t4\n12.500000\t0\n25.000000\t0\n37.500000\t1\n50.000000\t1\n"
        "62.500000\t1\n75.000000\t0\n87.500000\t1\n100.000000\t0\n112.500000\t1\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t mtau;
        std::string expected;
    };
    const Case cases[] = {
        {"three records", records({3, 4, 5}), 10, example},
        {"a trailing partial record is ignored", records({3, 4, 5}, "\x07"), 10, example},
        {"three trailing bytes too", records({3, 4, 5}, std::string("\x01\x02\x03", 3)), 10, example},
        {"an empty file feeds nothing", "", 10, lag_file({1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 10, 12.5)},
        {"mtau 0 writes no line", records({3, 4, 5}), 0, ""},
        // A record with its top bit set is a gap beyond any mtau: it empties the window.
        {"top bit set", records({3, 0xFFFFFFFBu, 2}), 10, lag_file({4, 0, 1, 1, 0, 0, 0, 0, 0, 0}, 10, 12.5)},
    };
    for (const auto& c : cases) {
        std::string in = dir.file("in.bin");
        std::string out = dir.file("out.txt");
        write_file(in, c.bytes);
        write_file(out, "an older file, replaced\n");
        const auto printed = capture([&] { convert(in.data(), out.data(), c.mtau, 1.0, 12.5); });
        EXPECT_EQ(read_file(out), text_file(c.expected)) << c.what;
        EXPECT_EQ(printed.out + printed.err, "") << c.what;
    }
}

TEST_F(CorvanelFiles, ConversionLeavesTheCorrelationInTheLibrary) {
    std::string in = dir.file("in.bin");
    std::string out = dir.file("out.txt");
    write_file(in, records({3, 4, 5}));
    convert(in.data(), out.data(), 10, 1.0, 12.5);
    EXPECT_EQ(counts_now(10), text_file("4\n0\n0\n1\n1\n1\n0\n1\n0\n1\n"));
    // Accumulation goes on from there: photon at tick 14 pairs at lags 2, 7 and 11 (beyond mtau).
    EXPECT_EQ(raw(2), 2);
    EXPECT_EQ(counts_now(10), text_file("5\n0\n1\n1\n1\n1\n0\n2\n0\n1\n"));
}

TEST_F(CorvanelFiles, WritesTheCountFile) {
    std::string path = dir.file("acf.csv");
    write_file(path, "an older file, replaced\n");
    ASSERT_EQ(setup(10, 1.0, 12.5), 11);
    auto printed = capture([&] { EXPECT_EQ(write_counts(path.data()), 10); });
    EXPECT_EQ(read_file(path), text_file("1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n"));
    EXPECT_EQ(printed.out, wrote(path, 10));
    EXPECT_EQ(printed.err, "");

    // The last line is acf[mtau - 1]; acf[mtau] is not written.
    for (std::int32_t tau : {3, 4, 5, 1}) raw(tau);  // the last one pairs at lags 1, 6 and 10
    EXPECT_EQ(counts_now(10), text_file("5\n1\n0\n1\n1\n1\n1\n1\n0\n1\n"));

    ASSERT_EQ(setup(0, 1.0, 12.5), 1);
    printed = capture([&] { EXPECT_EQ(write_counts(path.data()), 0); });
    EXPECT_EQ(read_file(path), "");
    EXPECT_EQ(printed.out, wrote(path, 0));
}

TEST_F(CorvanelFiles, CountFileThatCannotBeOpened) {
    ASSERT_EQ(setup(5, 1.0, 12.5), 6);
    raw(3);
    std::string path = dir.file("no-such-folder/acf.csv");
    const auto printed = capture([&] { EXPECT_EQ(write_counts(path.data()), 0); });
    EXPECT_EQ(printed.err, "writeRealACFtoCSV: ERROR fail to open " + path);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(counts_now(5), text_file("2\n0\n0\n1\n0\n"));  // the correlation is untouched
}

TEST_F(CorvanelFiles, CountFileNeedsASuccessfulSetUp) {
    std::string path = dir.file("acf.csv");
    auto printed = capture([&] { EXPECT_EQ(write_counts(path.data()), 0); });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_EQ(setup(10, 1.0, 12.5), 11);
    capture([&] { EXPECT_EQ(setup(-1, 1.0, 12.5), 0); });
    printed = capture([&] { EXPECT_EQ(write_counts(path.data()), 0); });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(CorvanelFiles, ConversionWhoseInputCannotBeOpenedChangesNothing) {
    ASSERT_EQ(setup(5, 1.0, 12.5), 6);
    raw(3);
    std::string in = dir.file("missing.bin");
    std::string out = dir.file("out.txt");
    write_file(out, "kept\n");
    const auto printed = capture([&] { convert(in.data(), out.data(), 10, 1.0, 12.5); });
    EXPECT_EQ(printed.err, "file2acf: ERROR fail to open " + in);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(read_file(out), "kept\n");
    EXPECT_EQ(counts_now(5), text_file("2\n0\n0\n1\n0\n"));  // still the earlier correlator, not set up again
}

TEST_F(CorvanelFiles, ConversionWhoseOutputCannotBeOpenedKeepsTheCorrelation) {
    std::string in = dir.file("in.bin");
    std::string out = dir.file("no-such-folder/out.txt");
    write_file(in, records({3, 4, 5}));
    const auto printed = capture([&] { convert(in.data(), out.data(), 10, 1.0, 12.5); });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(counts_now(10), text_file("4\n0\n0\n1\n1\n1\n0\n1\n0\n1\n"));
}

TEST_F(CorvanelFiles, ConversionWithAFailedSetUpFeedsAndWritesNothing) {
    struct Case {
        std::int32_t mtau;
        double dutyFactor;
        const char* message;
    };
    const Case cases[] = {
        {-1, 1.0, "setupRealACF: ERRORmemory allocation failed for 'acf' w/mtau=-1"},
        {10, -1.0, "setupRealACF: ERRORmemory allocation failed for 'delay' w/mtau=10, dutyFactor=-1.000000"},
    };
    std::string in = dir.file("in.bin");
    write_file(in, records({3, 4, 5}));
    for (const auto& c : cases) {
        std::string out = dir.file("out.txt");
        std::filesystem::remove(out);
        const auto printed = capture([&] { convert(in.data(), out.data(), c.mtau, c.dutyFactor, 12.5); });
        EXPECT_EQ(printed.out, c.message);
        EXPECT_EQ(printed.err, "");
        EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
        std::string csv = dir.file("acf.csv");
        EXPECT_EQ(capture([&] { EXPECT_EQ(write_counts(csv.data()), 0); }).out, "");  // no correlator
    }
}

// The overflow message that realACFraw prints for every refused photon.
std::string overflow_message(double factor) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "realACF : ERROR count rate too high for time delay.\n\t\n\t SUGGESTION: increase dutyFactor by a "
                  "factor of %.2f or decrease excitation power",
                  factor);
    return text;
}

// Counts from a lag and count file, checking each lag on the way.
std::vector<std::int32_t> counts_of_lag_file(const std::string& text, double clock_ns) {
    std::vector<std::int32_t> counts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        EXPECT_EQ(line.substr(0, tab), format("%f", static_cast<double>(counts.size()) * clock_ns, 0));
        counts.push_back(std::stoi(line.substr(tab + 1)));
    }
    return counts;
}

std::vector<std::int32_t> counts_of_count_file(const std::string& text) {
    std::vector<std::int32_t> counts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) counts.push_back(std::stoi(line));
    return counts;
}

TEST_F(CorvanelFiles, EveryFormAgreesWithBruteForceOnRecordedStreams) {
    struct Case {
        std::uint32_t mtau;
        double mean_gap;
        double dutyFactor;  // small ones overflow the delay list
        std::uint32_t seed;
    };
    const Case cases[] = {
        {2000, 40.0, 1.0, 21}, {300, 3.0, 1.0, 22}, {1, 0.7, 3.0, 23}, {300, 10.0, 0.04, 24}, {500, 5.0, 0.05, 25},
    };
    const double clock_ns = 12.5;
    for (const Case& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        const auto taus = fcs::test::random_taus(6000, c.mean_gap, c.mtau + 1, c.seed);
        const auto mtau = static_cast<std::int32_t>(c.mtau);

        // The library's correlator fed one call per photon, then its count file.
        const std::int32_t mdelay = setup(mtau, c.dutyFactor, clock_ns);
        const auto fed = capture([&] {
            for (auto tau : taus) raw(static_cast<std::int32_t>(tau));
        });
        std::string csv = dir.file("acf.csv");
        capture([&] { EXPECT_EQ(write_counts(csv.data()), mtau); });
        const auto by_calls = counts_of_count_file(read_file(csv));

        // The same stream recorded in a file and converted in one call.
        std::string in = dir.file("stream.bin");
        std::string out = dir.file("stream.txt");
        write_file(in, records(taus));
        const auto converted = capture([&] { convert(in.data(), out.data(), mtau, c.dutyFactor, clock_ns); });
        const auto by_file = counts_of_lag_file(read_file(out), clock_ns);

        // The caller's arrays, with acf[0] given the starting 1 that set-up gives.
        std::vector<std::int32_t> delay(static_cast<std::size_t>(mdelay) + 1), acf(c.mtau + 1);
        acf[0] = 1;
        std::int32_t idelay = 0;
        for (auto tau : taus) raw_arr(delay.data(), acf.data(), static_cast<std::int32_t>(tau), &idelay, mtau, mdelay);

        const auto expected = fcs::test::reference_pairs(taus, c.mtau, mdelay, true);
        const std::vector<std::int32_t> first(expected.acf.begin(), expected.acf.end() - 1);  // lags 0..mtau-1
        EXPECT_EQ(by_calls, first);
        EXPECT_EQ(by_file, first);
        EXPECT_EQ(acf, expected.acf);

        // Each refused photon prints the overflow message, with the lag from the
        // last counted photon back to its mdelay-th predecessor as divisor.
        std::string messages;
        if (expected.accepted < taus.size()) {
            std::uint64_t lag = 0;
            for (std::size_t i = expected.accepted - static_cast<std::size_t>(mdelay); i < expected.accepted; ++i)
                lag += taus[i];
            const std::string once = overflow_message(static_cast<double>(mtau) / static_cast<double>(lag));
            for (std::size_t i = expected.accepted; i < taus.size(); ++i) messages += once;
            EXPECT_EQ(idelay, mdelay + 1);
        }
        EXPECT_EQ(fed.out, messages);
        EXPECT_EQ(converted.out, messages);
        EXPECT_EQ(fed.err + converted.err, "");
    }
}

}  // namespace
