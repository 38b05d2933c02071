#include "options.h"

#include "failure.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

namespace fcs::host {

const char* usage_text() {
    return R"(usage: fcs-host COMMAND [options]

commands
  acquire FILE   correlate, histogram and bin an inter-photon time file (4-byte
                 records of clock ticks) with the libraries, fit, write the outputs
  simulate FILE  write a simulated FCS measurement as an inter-photon time file
  demo           simulate the default sample, acquire it, and set both fits
                 beside the truth
  help           this text

times are written with a unit: ns (also for a bare number), us, ms, s or ticks

acquire and demo
  --clock T            clock period (acquire: required; demo: the simulation's)
  --max-lag T          largest lag of the correlation (10ms)
  --rate HZ            expected mean count rate (default: measured from the file)
  --duty-factor X      window bound in photons per tick, in place of --rate
  --margin X           window bound over the mean rate, for bursts (10)
  --hist-min T         inter-photon time histogram: lowest time (0)
  --hist-max T           highest time (10 mean gaps)
  --hist-bin T           bin width, whole clock periods (1/400 of the range)
  --trace-bin T        time-trace bin width, whole clock periods (1ms, rounded
                       to whole periods when not given)
  --segments N         segments for the standard errors (20)
  --per-decade N       averaged lags per decade (10)
  --fit-min T          physical fit from this lag (1us)
  --fit-max T            up to this lag (the largest lag)
  --kappa K            structure factor z0/w0 of the physical fit, fixed (5)
  --kappa-range LO:HI  fit the structure factor within LO to HI instead
  --library-iterations N  iteration limit of the libraries' fit (5); it runs
                       on every lag, about half a second per iteration per
                       million lags
  --cross-check        also convert the file with Corvanel's and Quenbar's
                       file2acf and compare with the streamed results
  --out DIR            output folder (acquire: fcs-output, demo: fcs-demo)
  --lib-dir DIR        folder of the library files (../lib from the program's own folder)
  --no-figure          do not draw the figure

simulate and demo (the truth of the sample)
  --duration T         length of the measurement (10s)
  --clock T            clock period (12.5ns)
  --waist UM           lateral 1/e^2 radius w0 in um (0.25)
  --axial UM           axial 1/e^2 half-extent z0 in um (1.25)
  --diffusion D        diffusion coefficient in um^2/s (100)
  --molecules N        mean number in the effective volume (5)
  --brightness HZ      count rate of one molecule at the centre (50000)
  --background HZ      uncorrelated count rate (1000)
  --seed N             seed of the simulation (1)
)";
}

namespace {

double parse_number(const std::string& text, const std::string& option) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    if (end == start || *end != '\0' || !std::isfinite(value))
        throw Failure("option " + option + ": '" + text + "' is not a number");
    return value;
}

double positive(const std::string& text, const std::string& option) {
    const double value = parse_number(text, option);
    if (!(value > 0.0)) throw Failure("option " + option + ": " + text + " must be above 0");
    return value;
}

int count_in(const std::string& text, const std::string& option, int low, int high) {
    const double value = parse_number(text, option);
    if (value != std::floor(value) || value < low || value > high)
        throw Failure("option " + option + ": " + text + " must be a whole number from " + std::to_string(low) +
                      " to " + std::to_string(high));
    return static_cast<int>(value);
}

double clock_of(const std::string& text, const std::string& option) {
    const TimeValue t = parse_time(text, option);
    if (t.in_ticks) throw Failure("option " + option + ": the clock period is a time, not a number of ticks");
    if (!(t.amount > 0.0) || t.amount > 1e9) throw Failure("option " + option + ": " + text + " must be above 0 and at most 1s");
    return t.amount;
}

using Handler = std::function<void(const std::string& value)>;

struct OptionTable {
    std::map<std::string, Handler> with_value;
    std::map<std::string, std::function<void()>> flags;
};

void add_acquire_options(OptionTable& t, AcquireSettings& a, bool clock_too) {
    auto& v = t.with_value;
    if (clock_too) v["--clock"] = [&a](const std::string& s) { a.clock_ns = clock_of(s, "--clock"); };
    v["--max-lag"] = [&a](const std::string& s) { a.max_lag = parse_time(s, "--max-lag"); };
    v["--rate"] = [&a](const std::string& s) { a.rate_hz = positive(s, "--rate"); };
    v["--duty-factor"] = [&a](const std::string& s) { a.duty_factor = positive(s, "--duty-factor"); };
    v["--margin"] = [&a](const std::string& s) {
        a.margin = parse_number(s, "--margin");
        if (!(a.margin >= 1.0)) throw Failure("option --margin: " + s + " must be at least 1");
    };
    v["--hist-min"] = [&a](const std::string& s) { a.hist_min = parse_time(s, "--hist-min"); };
    v["--hist-max"] = [&a](const std::string& s) { a.hist_max = parse_time(s, "--hist-max"); };
    v["--hist-bin"] = [&a](const std::string& s) { a.hist_bin = parse_time(s, "--hist-bin"); };
    v["--trace-bin"] = [&a](const std::string& s) { a.trace_bin = parse_time(s, "--trace-bin"); };
    v["--segments"] = [&a](const std::string& s) { a.segments = count_in(s, "--segments", 2, 1000); };
    v["--per-decade"] = [&a](const std::string& s) { a.per_decade = count_in(s, "--per-decade", 2, 100); };
    v["--fit-min"] = [&a](const std::string& s) { a.fit_min = parse_time(s, "--fit-min"); };
    v["--fit-max"] = [&a](const std::string& s) { a.fit_max = parse_time(s, "--fit-max"); };
    v["--kappa"] = [&a](const std::string& s) { a.kappa = positive(s, "--kappa"); };
    v["--kappa-range"] = [&a](const std::string& s) {
        const auto colon = s.find(':');
        if (colon == std::string::npos) throw Failure("option --kappa-range: '" + s + "' is not LO:HI");
        a.kappa_low = positive(s.substr(0, colon), "--kappa-range");
        a.kappa_high = positive(s.substr(colon + 1), "--kappa-range");
        if (!(*a.kappa_low < *a.kappa_high)) throw Failure("option --kappa-range: LO must be below HI in " + s);
    };
    v["--library-iterations"] = [&a](const std::string& s) {
        a.library_iterations = count_in(s, "--library-iterations", 1, 100000);
    };
    v["--out"] = [&a](const std::string& s) { a.out_folder = s; };
    v["--lib-dir"] = [&a](const std::string& s) { a.library_folder = s; };
    t.flags["--cross-check"] = [&a] { a.cross_check = true; };
    t.flags["--no-figure"] = [&a] { a.figure = false; };
}

void add_sample_options(OptionTable& t, Sample& s) {
    auto& v = t.with_value;
    v["--duration"] = [&s](const std::string& x) {
        const TimeValue d = parse_time(x, "--duration");
        if (d.in_ticks || !(d.amount > 0.0)) throw Failure("option --duration: " + x + " must be a time above 0");
        s.duration_s = d.amount * 1e-9;
    };
    v["--clock"] = [&s](const std::string& x) { s.clock_ns = clock_of(x, "--clock"); };
    v["--waist"] = [&s](const std::string& x) { s.waist_um = positive(x, "--waist"); };
    v["--axial"] = [&s](const std::string& x) { s.axial_um = positive(x, "--axial"); };
    v["--diffusion"] = [&s](const std::string& x) { s.diffusion_um2_s = positive(x, "--diffusion"); };
    v["--molecules"] = [&s](const std::string& x) { s.molecules = positive(x, "--molecules"); };
    v["--brightness"] = [&s](const std::string& x) { s.brightness_hz = positive(x, "--brightness"); };
    v["--background"] = [&s](const std::string& x) {
        s.background_hz = parse_number(x, "--background");
        if (s.background_hz < 0.0) throw Failure("option --background: " + x + " must be at least 0");
    };
    v["--seed"] = [&s](const std::string& x) {
        const double seed = parse_number(x, "--seed");
        if (seed != std::floor(seed) || seed < 0.0 || seed > 9007199254740992.0)
            throw Failure("option --seed: " + x + " must be a whole number from 0 to 2^53");
        s.seed = static_cast<std::uint64_t>(seed);
    };
}

void parse_options(const OptionTable& table, const std::vector<std::string>& args, std::size_t from) {
    for (std::size_t i = from; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool has_value = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        if (const auto flag = table.flags.find(name); flag != table.flags.end() && !has_value) {
            flag->second();
            continue;
        }
        const auto option = table.with_value.find(name);
        if (option == table.with_value.end())
            throw Failure((name.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + name);
        if (!has_value) {
            if (i + 1 >= args.size()) throw Failure("option " + name + " needs a value");
            value = args[++i];
        }
        option->second(value);
    }
}

}  // namespace

Command parse_command_line(int argc, const char* const* argv) {
    std::vector<std::string> args(argv, argv + argc);
    Command command;
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") return command;

    OptionTable table;
    const std::string& name = args[0];
    std::size_t from = 1;
    if (name == "acquire" || name == "simulate") {
        if (args.size() < 2 || args[1].rfind("--", 0) == 0) throw Failure(name + " needs a FILE");
        from = 2;
    }
    if (name == "acquire") {
        command.kind = Command::kAcquire;
        command.acquire.input = args[1];
        command.acquire.out_folder = "fcs-output";
        add_acquire_options(table, command.acquire, true);
        parse_options(table, args, from);
        if (!command.acquire.clock_ns)
            throw Failure("acquire needs the clock period of the file: --clock T (for example --clock 12.5ns)");
    } else if (name == "simulate") {
        command.kind = Command::kSimulate;
        command.simulate_output = args[1];
        add_sample_options(table, command.sample);
        parse_options(table, args, from);
        check_sample(command.sample);
    } else if (name == "demo") {
        command.kind = Command::kDemo;
        command.acquire.out_folder = "fcs-demo";
        add_acquire_options(table, command.acquire, false);
        add_sample_options(table, command.sample);
        parse_options(table, args, from);
        check_sample(command.sample);
        command.acquire.clock_ns = command.sample.clock_ns;
    } else {
        throw Failure("unknown command '" + name + "' (commands: acquire, simulate, demo, help)");
    }
    return command;
}

}  // namespace fcs::host
