// A check of the streamed results against the offline conversions of the same
// file: Corvanel's file2acf (lags and pair counts) and Quenbar's file2acf
// (histogram counts), which read the file themselves.
#pragma once

#include "acquisition.h"
#include "library_set.h"

#include <string>

namespace fcs::host {

struct CrossCheck {
    std::string correlation;  // what the comparison found, in words
    std::string histogram;
    bool agreed = true;
};

// Writes the two conversions into temporary files in `folder`, compares them
// with the acquisition, and removes them.
CrossCheck cross_check(const std::string& input, const std::string& folder, const Setup& setup,
                       const Acquisition& a, const LibrarySet& libs);

}  // namespace fcs::host
