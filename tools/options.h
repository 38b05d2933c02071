// The command line: three commands and their options.
#pragma once

#include "simulator.h"
#include "units.h"

#include <optional>
#include <string>

namespace fcs::host {

// What `acquire` (and the acquisition inside `demo`) is told.
struct AcquireSettings {
    std::string input;
    std::string out_folder;
    std::string library_folder;  // empty: default_library_folder()
    std::optional<double> clock_ns;
    TimeValue max_lag{1e7, false, "10ms"};
    std::optional<double> rate_hz;
    std::optional<double> duty_factor;
    double margin = 10.0;
    std::optional<TimeValue> hist_min, hist_max, hist_bin;
    std::optional<TimeValue> trace_bin;  // default 1 ms, rounded to whole ticks
    int segments = 20;
    int per_decade = 10;
    TimeValue fit_min{1e3, false, "1us"};
    std::optional<TimeValue> fit_max;  // default: the largest lag
    double kappa = 5.0;
    std::optional<double> kappa_low, kappa_high;  // both set: the structure factor is fitted within them
    int library_iterations = 5;
    int library_guess = 20;
    bool cross_check = false;
    bool figure = true;
};

struct Command {
    enum Kind { kHelp, kAcquire, kSimulate, kDemo } kind = kHelp;
    AcquireSettings acquire;
    Sample sample;
    std::string simulate_output;
};

// Parses the arguments after the program name; throws Failure naming the
// offending argument. Checks every value that needs no library to check.
Command parse_command_line(int argc, const char* const* argv);

const char* usage_text();

}  // namespace fcs::host
