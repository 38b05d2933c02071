#include "units.h"

#include "failure.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>

namespace fcs::host {

TimeValue parse_time(const std::string& text, const std::string& option) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double amount = std::strtod(start, &end);
    const std::string unit(end == start ? "?" : end);
    static const struct {
        const char* name;
        double ns;
    } units[] = {{"", 1.0}, {"ns", 1.0}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}, {"ticks", 0.0}};
    if (end != start && std::isfinite(amount) && amount >= 0.0) {
        for (const auto& u : units) {
            if (unit != u.name) continue;
            if (u.ns == 0.0) return {amount, true, text};
            return {amount * u.ns, false, text};
        }
    }
    throw Failure("option " + option + ": '" + text +
                  "' is not a time; write a number at least 0 with a unit ns, us, ms, s or ticks (for example 10ms)");
}

namespace {

constexpr double kInt32Max = 2147483647.0;

bool whole(double x) { return std::fabs(x - std::round(x)) <= 1e-6; }

// Both values as whole numbers of one unit 10^-k ns that fit 32 bits, for the
// smallest k from 0 to 6 that allows it.
struct Scaled {
    std::int32_t value, clock;
    double scale;
};
std::optional<Scaled> common_unit(double value_ns, double clock_ns) {
    double scale = 1.0;
    for (int k = 0; k <= 6; ++k, scale *= 10.0) {
        const double v = value_ns * scale, c = clock_ns * scale;
        if (whole(v) && whole(c) && std::round(v) <= kInt32Max && std::round(c) <= kInt32Max && std::round(c) >= 1.0)
            return Scaled{static_cast<std::int32_t>(std::round(v)), static_cast<std::int32_t>(std::round(c)), scale};
    }
    return std::nullopt;
}

std::int64_t checked_ticks(double ticks, const std::string& what, const std::string& text) {
    if (ticks > kInt32Max) throw Failure(what + " " + text + " is more clock periods than 32 bits hold");
    return static_cast<std::int64_t>(ticks);
}

}  // namespace

TickConverter::TickConverter(double clock_ns, const Dromilt& dromilt, const Trelvin& trelvin)
    : clock_ns_(clock_ns), dromilt_(dromilt), trelvin_(trelvin) {}

std::int64_t TickConverter::truncated_ticks(const TimeValue& t, const std::string& what) const {
    if (t.in_ticks) {
        if (!whole(t.amount)) throw Failure(what + " " + t.text + " is not a whole number of ticks");
        return checked_ticks(std::round(t.amount), what, t.text);
    }
    if (const auto s = common_unit(t.amount, clock_ns_)) return dromilt_.calcRealACFmtau(s->value, s->clock);
    calculators_only_ = false;
    return checked_ticks(std::floor(t.amount / clock_ns_ * (1.0 + 1e-12)), what, t.text);
}

std::int64_t TickConverter::whole_ticks(const TimeValue& t, const std::string& what) const {
    const auto not_whole = [&](double periods) {
        char detail[160];
        std::snprintf(detail, sizeof detail, " is not a whole number of clock periods (%.6g ns): %.6g periods",
                      clock_ns_, periods);
        return Failure(what + " " + t.text + detail);
    };
    if (t.in_ticks) {
        if (!whole(t.amount)) throw Failure(what + " " + t.text + " is not a whole number of ticks");
        return checked_ticks(std::round(t.amount), what, t.text);
    }
    const double periods = t.amount / clock_ns_;
    if (const auto s = common_unit(t.amount, clock_ns_)) {
        // Checked here first, so that the calculator only sees whole multiples
        // and has nothing to complain about in its own (scaled) numbers.
        if (s->value % s->clock != 0) throw not_whole(periods);
        return trelvin_.calcTrelvin(s->value, s->clock);
    }
    calculators_only_ = false;
    if (std::fabs(periods - std::round(periods)) > 1e-6 * std::max(1.0, periods)) throw not_whole(periods);
    return checked_ticks(std::round(periods), what, t.text);
}

double TickConverter::photons_per_tick(double rate_hz) const {
    // rate * c / 1e9 with c in the finer unit and the rate scaled to match.
    if (const auto s = common_unit(0.0, clock_ns_)) return dromilt_.calcRealACFdutyFactor(rate_hz / s->scale, s->clock);
    calculators_only_ = false;
    return rate_hz * clock_ns_ / 1e9;
}

std::string format_duration_ns(double ns) {
    char text[64];
    const double a = std::fabs(ns);
    if (a >= 1e9)
        std::snprintf(text, sizeof text, "%.6g s", ns / 1e9);
    else if (a >= 1e6)
        std::snprintf(text, sizeof text, "%.6g ms", ns / 1e6);
    else if (a >= 1e3)
        std::snprintf(text, sizeof text, "%.6g us", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.6g ns", ns);
    return text;
}

}  // namespace fcs::host
