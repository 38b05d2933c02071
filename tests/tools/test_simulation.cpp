// The simulator: the same seed gives the same file, and the count rate is the
// one that the sample's truth implies, for samples that differ in each factor
// of it (molecules, brightness, background, volume, clock).
#include "host.h"
#include "run_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

namespace {

using fcs::test::read_file;
using fcs::test::read_records;
using fcs::test::run_host;
using fcs::test::TempDir;

TEST(Simulation, TheSeedDecidesThePhotons) {
    TempDir dir;
    for (const char* name : {"a", "b", "c"}) {
        const std::string seed = std::string(name) == "c" ? "6" : "5";
        const auto run = run_host({"simulate", dir.file(name), "--duration", "0.2s", "--seed", seed}, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const std::string a = read_file(dir.file("a"));
    EXPECT_GT(a.size(), 4u * 10000u);
    EXPECT_EQ(a, read_file(dir.file("b")));
    EXPECT_NE(a, read_file(dir.file("c")));
}

TEST(Simulation, CountRateFollowsTheSample) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        double molecules, brightness_hz, background_hz, clock_ns;
    } samples[] = {
        {"default sample", {}, 5, 50000, 1000, 12.5},
        {"many dim molecules, strong background",
         {"--molecules", "40", "--brightness", "5000", "--background", "20000"}, 40, 5000, 20000, 12.5},
        {"few bright molecules, small volume, coarse clock",
         {"--molecules", "3", "--brightness", "100000", "--background", "0", "--waist", "0.2", "--axial", "0.6",
          "--clock", "50ns"},
         3, 100000, 0, 50},
    };
    for (const auto& s : samples) {
        SCOPED_TRACE(s.what);
        TempDir dir;
        std::vector<std::string> args = {"simulate", dir.file("s.ipt"), "--duration", "1s", "--seed", "11"};
        args.insert(args.end(), s.options.begin(), s.options.end());
        const auto run = run_host(args, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        const auto records = read_records(dir.file("s.ipt"));
        const double ticks = std::accumulate(records.begin(), records.end(), 0.0);
        EXPECT_LT(ticks * s.clock_ns * 1e-9, 1.0);
        EXPECT_GT(ticks * s.clock_ns * 1e-9, 0.99);
        // A molecule in the volume is seen at 2^-1.5 of its peak rate on average.
        const double expected = s.molecules * s.brightness_hz / std::pow(2.0, 1.5) + s.background_hz;
        EXPECT_NEAR(static_cast<double>(records.size()), expected, 0.06 * expected);
    }
}

}  // namespace
