// Turning the settings of an acquisition into the libraries' arguments, in
// ticks, with the libraries' unit calculators.
#pragma once

#include "acquisition.h"
#include "options.h"
#include "units.h"

#include <string>
#include <vector>

namespace fcs::host {

struct Plan {
    Setup setup;
    double rate_hz = 0.0;     // mean count rate behind the window bound
    std::string rate_source;  // "given" or "measured from the file"; empty when the duty factor was given
    double margin = 1.0;      // window bound over that rate
    std::int32_t fit_first = 1, fit_last = 1;  // lag range of the physical fit, ticks
    bool calculators = true;  // every conversion ran through the libraries' calculators
    std::vector<std::string> notes;  // choices the user did not make, for the summary
};

// Throws Failure naming the first setting out of range.
Plan make_plan(const AcquireSettings& settings, const FileScan& scan, const LibrarySet& libs);

}  // namespace fcs::host
