// Bad input: a clear message naming the problem, a non-zero exit, and no
// output written. A file whose length is no whole number of records is a
// warning, and its last bytes are ignored.
#include "host.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using fcs::test::read_file;
using fcs::test::run_host;
using fcs::test::summary_value;
using fcs::test::TempDir;
using fcs::test::write_file;

std::string records_bytes(const std::vector<std::uint32_t>& records) {
    std::string bytes;
    for (std::uint32_t r : records)
        for (int b = 0; b < 4; ++b) bytes += static_cast<char>((r >> (8 * b)) & 0xFF);
    return bytes;
}

// 2000 irregular inter-photon times of 10 to 3009 ticks.
std::string good_bytes() {
    std::vector<std::uint32_t> records(2000);
    for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<std::uint32_t>(i * 7919 % 3000 + 10);
    return records_bytes(records);
}

// A library folder where libPlavenne.so is really another library.
std::string library_folder_with_an_impostor(const TempDir& dir) {
    namespace fs = std::filesystem;
    const fs::path folder = dir.file("libs");
    fs::create_directories(folder);
    for (const char* name : {"Corvanel", "Dromilt", "Quenbar", "Quenlith", "Trelvin", "Vennitch"})
        fs::create_symlink(fcs::test::library_path(name), folder / (std::string("lib") + name + ".so"));
    fs::create_symlink(fcs::test::library_path("Vennitch"), folder / "libPlavenne.so");
    return folder.string();
}

bool empty_or_absent(const std::string& folder) {
    namespace fs = std::filesystem;
    return !fs::exists(folder) || fs::is_empty(folder);
}

TEST(Errors, EachProblemIsNamedAndExitsNonZeroWithoutOutputs) {
    TempDir dir;
    const std::string good = dir.file("good.ipt");
    write_file(good, good_bytes());
    write_file(dir.file("empty.ipt"), "");
    write_file(dir.file("three-bytes.ipt"), "abc");
    write_file(dir.file("huge-gap.ipt"), records_bytes({100, 200, 0xFFFFFFFFu, 300}));
    std::filesystem::create_directories(dir.file("a-folder.ipt"));
    const std::string impostors = library_folder_with_an_impostor(dir);
    const std::vector<std::string> quick = {"--clock", "12.5", "--max-lag", "2us", "--no-figure"};

    const struct {
        const char* what;
        std::vector<std::string> args;
        bool with_quick_options;
        std::string message;
    } cases[] = {
        {"missing file", {"acquire", dir.file("missing.ipt")}, true, "cannot open " + dir.file("missing.ipt")},
        {"unreadable file", {"acquire", dir.file("a-folder.ipt")}, true, "cannot read " + dir.file("a-folder.ipt")},
        {"empty file", {"acquire", dir.file("empty.ipt")}, true, "holds no inter-photon time"},
        {"no whole record", {"acquire", dir.file("three-bytes.ipt")}, true, "holds no inter-photon time"},
        {"gap beyond the trace's range", {"acquire", dir.file("huge-gap.ipt")}, true,
         "record 2 holds 4294967295 ticks, beyond the largest inter-photon time"},
        {"trace bin not whole", {"acquire", good, "--trace-bin", "1000.5ns"}, true,
         "the trace bin width 1000.5ns is not a whole number of clock periods"},
        {"histogram bin not whole", {"acquire", good, "--hist-bin", "30ns"}, true,
         "the histogram bin width 30ns is not a whole number of clock periods"},
        {"largest lag below 7 ticks", {"acquire", good, "--clock", "12.5", "--max-lag", "80ns"}, false,
         "it must be at least 7 ticks"},
        {"largest lag in ticks", {"acquire", good, "--clock", "12.5", "--max-lag", "6ticks"}, false,
         "it must be at least 7 ticks"},
        {"fit range beyond the lags", {"acquire", good, "--fit-max", "3us"}, true, "lies beyond the largest lag"},
        {"no clock period", {"acquire", good}, false, "acquire needs the clock period"},
        {"time without a unit we know", {"acquire", good, "--clock", "12.5", "--max-lag", "10 parsecs"}, false,
         "'10 parsecs' is not a time"},
        {"too few segments", {"acquire", good, "--segments", "1"}, true, "must be a whole number from 2 to 1000"},
        {"unknown option", {"acquire", good, "--bogus"}, true, "unknown option --bogus"},
        {"library folder missing", {"acquire", good, "--lib-dir", dir.file("nowhere")}, true,
         "cannot load library Corvanel from " + dir.file("nowhere") + "/libCorvanel.so"},
        {"library lacks an export", {"acquire", good, "--lib-dir", impostors}, true,
         "library " + impostors + "/libPlavenne.so lacks the export realACFnormArrIO"},
        {"simulation without molecules", {"simulate", dir.file("sim.ipt"), "--molecules", "0"}, false,
         "option --molecules: 0 must be above 0"},
        {"unknown command", {"correlate", good}, false, "unknown command 'correlate'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir.file(std::string("out-") + c.what);
        std::vector<std::string> args = c.args;
        if (c.with_quick_options) args.insert(args.end(), quick.begin(), quick.end());
        args.insert(args.end(), {"--out", out});
        if (c.args[0] != "acquire") args.resize(c.args.size());  // --out belongs to acquire and demo
        const auto run = run_host(args, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.rfind("fcs-host: error: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(empty_or_absent(out));
        EXPECT_FALSE(std::filesystem::exists(dir.file("sim.ipt")));
    }
}

TEST(Errors, TrailingBytesAreIgnoredWithAWarning) {
    TempDir dir;
    write_file(dir.file("whole.ipt"), good_bytes());
    write_file(dir.file("trailing.ipt"), good_bytes() + "xyz");
    const auto whole = run_host({"acquire", dir.file("whole.ipt"), "--clock", "12.5", "--max-lag", "2us",
                                 "--no-figure", "--out", dir.file("whole")},
                                dir.path());
    const auto trailing = run_host({"acquire", dir.file("trailing.ipt"), "--clock", "12.5", "--max-lag", "2us",
                                    "--no-figure", "--out", dir.file("trailing")},
                                   dir.path());
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(trailing.status, 0) << trailing.err;
    EXPECT_EQ(whole.err, "");
    EXPECT_EQ(trailing.err, "warning: " + dir.file("trailing.ipt") +
                                " ends with 3 bytes that make no whole 4-byte record; they are ignored\n");
    const std::string summary = read_file(dir.file("trailing/summary.txt"));
    EXPECT_EQ(summary_value(summary, "input", "inter-photon times"), "2000");
    EXPECT_EQ(summary_value(summary, "input", "ignored"), "3 trailing bytes (no whole 4-byte record)");
    for (const char* file : {"correlation.csv", "histogram.csv", "trace.csv"})
        EXPECT_EQ(read_file(dir.file(std::string("trailing/") + file)), read_file(dir.file(std::string("whole/") + file)))
            << file;
}

}  // namespace
