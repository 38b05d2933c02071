// Times on the command line and their conversion into clock ticks with the
// libraries' own calculators.
#pragma once

#include "library_set.h"

#include <cstdint>
#include <string>

namespace fcs::host {

// A time as given: nanoseconds (units ns, us, ms, s; a bare number is ns) or
// a number of clock ticks (unit "ticks").
struct TimeValue {
    double amount = 0.0;  // ns, or ticks when in_ticks
    bool in_ticks = false;
    std::string text;     // as the user wrote it, for messages
};

// Parses "12.5", "12.5ns", "10us", "10ms", "2s" or "40ticks"; throws Failure
// naming the option when the text is none of these or not a finite number
// at least 0.
TimeValue parse_time(const std::string& text, const std::string& option);

// Converts times into ticks of one clock. The calculators take whole
// nanoseconds; for a clock period such as 12.5 ns both values are handed to
// them in a finer unit (0.1 ns here) in which both are whole numbers that fit
// 32 bits. When no unit down to 1 fs does, the same arithmetic runs in double
// precision here, and used_calculators() turns false.
class TickConverter {
public:
    TickConverter(double clock_ns, const Dromilt& dromilt, const Trelvin& trelvin);

    // A lag or a bound: the whole ticks it holds, truncated (calcRealACFmtau).
    // Throws Failure if the result does not fit 32 bits.
    std::int64_t truncated_ticks(const TimeValue& t, const std::string& what) const;

    // A width: must be a whole number of clock periods (calcTrelvin); throws
    // Failure naming `what` otherwise.
    std::int64_t whole_ticks(const TimeValue& t, const std::string& what) const;

    // Expected photons per tick at a count rate in Hz (calcRealACFdutyFactor).
    double photons_per_tick(double rate_hz) const;

    double clock_ns() const { return clock_ns_; }
    bool used_calculators() const { return calculators_only_; }

private:
    double clock_ns_;
    const Dromilt& dromilt_;
    const Trelvin& trelvin_;
    mutable bool calculators_only_ = true;
};

// The duration of a number of ticks as text with a fitting unit ("12.5 ns", "3.2 ms").
std::string format_duration_ns(double ns);

}  // namespace fcs::host
