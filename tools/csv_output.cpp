#include "csv_output.h"

#include "output_file.h"

#include <charconv>
#include <cmath>

namespace fcs::host {

namespace {

// Builds the text in memory and hands it to the file in large pieces.
class CsvWriter {
public:
    CsvWriter(const std::string& path, const char* header) : file_(path) {
        text_.reserve(kFlush + 256);
        text_ += header;
        text_ += '\n';
    }

    CsvWriter& number(double v) {
        separate();
        if (std::isfinite(v)) {
            char buffer[32];
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 10).ptr;
            text_.append(buffer, end);
        }  // no value: an empty field
        return *this;
    }

    CsvWriter& integer(long long v) {
        separate();
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        text_.append(buffer, end);
        return *this;
    }

    void end_row() {
        text_ += '\n';
        first_ = true;
        if (text_.size() >= kFlush) {
            file_.write(text_);
            text_.clear();
        }
    }

    void commit() {
        file_.write(text_);
        file_.commit();
    }

private:
    static constexpr std::size_t kFlush = 1 << 20;
    void separate() {
        if (!first_) text_ += ',';
        first_ = false;
    }
    OutputFile file_;
    std::string text_;
    bool first_ = true;
};

}  // namespace

void write_correlation_csv(const std::string& path, const Acquisition& a, double clock_ns) {
    CsvWriter csv(path, "lag_ns,pairs,normalized,library_fit,library_fit_normalized");
    // The fitted curve in the normalizer's terms, (A/T)^2 (T - i) pairs for G = 0.
    const auto A = static_cast<double>(a.photons), T = static_cast<double>(a.ticks);
    for (std::size_t i = 0; i < a.acf.size(); ++i) {
        const double lag = static_cast<double>(i);
        const double fit = a.library_fit.curve[i];
        csv.number(lag * clock_ns).integer(a.acf[i]).number(a.normalized[i]).number(fit);
        csv.number(fit / ((A / T) * (A / T) * (T - lag)) - 1.0);
        csv.end_row();
    }
    csv.commit();
}

void write_averaged_csv(const std::string& path, const std::vector<AveragedPoint>& points,
                        const std::vector<bool>& in_fit, const DiffusionFit& fit) {
    CsvWriter csv(path, "lag_ns,first_lag_ns,last_lag_ns,lags,g,g_se,fit,in_fit");
    for (std::size_t j = 0; j < points.size(); ++j) {
        const AveragedPoint& p = points[j];
        csv.number(p.lag_ns).number(p.first_ns).number(p.last_ns).integer(p.lags).number(p.g).number(p.se);
        csv.number(fit.done ? fit.model.over(p.first_ns, p.last_ns) : std::nan("")).integer(in_fit[j] ? 1 : 0);
        csv.end_row();
    }
    csv.commit();
}

void write_histogram_csv(const std::string& path, const Acquisition& a, const Setup& setup) {
    CsvWriter csv(path, "ipt_ticks,ipt_ns,count");
    for (std::size_t k = 0; k < a.histogram.size(); ++k) {
        const long long start = setup.hist_lb + static_cast<long long>(k) * setup.hist_itv;
        csv.integer(start).number(static_cast<double>(start) * setup.clock_ns).integer(a.histogram[k]);
        csv.end_row();
    }
    csv.commit();
}

void write_trace_csv(const std::string& path, const Acquisition& a, const Setup& setup) {
    CsvWriter csv(path, "time_s,photons");
    const double width_s = setup.trace_ticks * setup.clock_ns * 1e-9;
    for (std::size_t k = 0; k < a.trace.size(); ++k) {
        csv.number(static_cast<double>(k) * width_s).integer(a.trace[k]);
        csv.end_row();
    }
    csv.commit();
}

}  // namespace fcs::host
