#include "cross_check.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace fcs::host {

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last integer of every line ("%f\t%d\n" or "%d\n" lines).
std::vector<long long> last_numbers(const std::string& text) {
    std::vector<long long> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::size_t from = text.find_last_of("\t", end == 0 ? 0 : end - 1);
        from = (from == std::string::npos || from < start) ? start : from + 1;
        long long v = 0;
        std::from_chars(text.data() + from, text.data() + end, v);
        values.push_back(v);
        start = end + 1;
    }
    return values;
}

std::string first_difference(const char* what, std::size_t index, long long streamed, long long offline) {
    return std::string("DIFFERS at ") + what + " " + std::to_string(index) + ": streamed " + std::to_string(streamed) +
           ", offline " + std::to_string(offline);
}

}  // namespace

CrossCheck cross_check(const std::string& input, const std::string& folder, const Setup& setup,
                       const Acquisition& a, const LibrarySet& libs) {
    CrossCheck check;
    std::string in = input;

    if (a.refused > 0) {
        check.correlation = "not run: the streamed correlator refused steps, after which the two differ by design";
    } else {
        std::string out = folder + "/cross-check-correlation.txt";
        libs.corvanel.file2acf(in.data(), out.data(), setup.mtau, setup.duty_factor, setup.clock_ns);
        const auto counts = last_numbers(read_text(out));
        std::remove(out.c_str());
        // Corvanel writes lags 0 to mtau - 1; its entry 0 also counts the
        // first photon, which has no inter-photon time of its own.
        if (counts.size() != static_cast<std::size_t>(setup.mtau)) {
            check.correlation = "DIFFERS: Corvanel wrote " + std::to_string(counts.size()) + " lines for " +
                                std::to_string(setup.mtau) + " lags";
            check.agreed = false;
        } else {
            check.correlation = "identical to Corvanel's file2acf at every lag (its lag 0 counts the first photon too)";
            for (std::size_t i = 0; i < counts.size(); ++i) {
                const long long expected = a.acf[i] + (i == 0 ? 1 : 0);
                if (counts[i] != expected) {
                    check.correlation = first_difference("lag", i, expected, counts[i]);
                    check.agreed = false;
                    break;
                }
            }
        }
    }

    std::string out = folder + "/cross-check-histogram.txt";
    libs.quenbar.file2acf(in.data(), out.data(), setup.hist_lb, setup.hist_ub, setup.hist_itv);
    libs.quenbar.clearQuenbar();
    const auto counts = last_numbers(read_text(out));
    std::remove(out.c_str());
    // Quenbar writes its regular bins; the streamed histogram may have one
    // more slot, for the highest time alone.
    const auto regular = static_cast<std::size_t>(
        std::ceil(static_cast<double>(setup.hist_ub - setup.hist_lb) / static_cast<double>(setup.hist_itv)));
    if (counts.size() != regular) {
        check.histogram = "DIFFERS: Quenbar wrote " + std::to_string(counts.size()) + " bins, expected " +
                          std::to_string(regular);
        check.agreed = false;
    } else {
        check.histogram = "identical to Quenbar's file2acf in all " + std::to_string(regular) + " bins";
        for (std::size_t k = 0; k < counts.size(); ++k)
            if (counts[k] != a.histogram[k]) {
                check.histogram = first_difference("bin", k, a.histogram[k], counts[k]);
                check.agreed = false;
                break;
            }
    }
    return check;
}

}  // namespace fcs::host
