#include "acquisition.h"

#include "failure.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fcs::host {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr std::size_t kBlockRecords = 1 << 16;  // 256 KiB per read

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File open_for_reading(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) throw Failure("cannot open " + path + ": " + std::strerror(errno));
    return file;
}

// Reads up to `count` records into `records` and returns how many whole ones
// it got; only the end of the file yields fewer, and 1 to 3 bytes of an
// incomplete last record are dropped there.
class RecordReader {
public:
    RecordReader(std::FILE* file, const std::string& path) : file_(file), path_(path), bytes_(kBlockRecords * 4) {}

    std::size_t read(std::uint32_t* records, std::size_t count) {
        const std::size_t got = std::fread(bytes_.data(), 1, count * 4, file_);
        if (got < count * 4 && std::ferror(file_)) throw Failure("cannot read " + path_ + ": " + std::strerror(errno));
        const std::size_t whole = got / 4;
        const unsigned char* b = bytes_.data();
        for (std::size_t i = 0; i < whole; ++i, b += 4)
            records[i] = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        return whole;
    }

private:
    std::FILE* file_;
    std::string path_;
    std::vector<unsigned char> bytes_;
};

// The host's time trace: closed bins and their empty bins are staged in a
// block of the host's and joined to the trace with Vennitch's connect, which
// appends at its own write position. The trace grows ahead of each join.
class TraceBuilder {
public:
    explicit TraceBuilder(const Vennitch& vennitch) : vennitch_(vennitch) { vennitch_.reset(); }

    void add(std::int32_t photons, std::int32_t empty_bins) {
        stage_[staged_++] = static_cast<std::uint32_t>(photons);
        if (staged_ == kStage) join();
        for (std::int64_t left = empty_bins; left > 0;) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(kStage - staged_)));
            std::fill_n(stage_ + staged_, n, 0u);
            staged_ += n;
            left -= static_cast<std::int64_t>(n);
            if (staged_ == kStage) join();
        }
    }

    std::vector<std::uint32_t> finish() {
        join();
        trace_.resize(written_);
        return std::move(trace_);
    }

private:
    static constexpr std::size_t kStage = 4096;

    void join() {
        if (staged_ == 0) return;
        if (written_ + staged_ > 0x7FFFFFFFu)
            throw Failure("the time trace would exceed 2^31 bins; choose a wider --trace-bin");
        if (trace_.size() < written_ + staged_) trace_.resize(std::max<std::size_t>(2 * trace_.size(), 1 << 16));
        vennitch_.connect(stage_, static_cast<std::int32_t>(staged_), trace_.data());
        written_ += staged_;
        staged_ = 0;
    }

    const Vennitch& vennitch_;
    std::vector<std::uint32_t> trace_;
    std::size_t written_ = 0;
    std::uint32_t stage_[kStage];
    std::size_t staged_ = 0;
};

class Progress {
public:
    Progress(bool on, std::uint64_t total) : on_(on), total_(total), last_(Clock::now()) {}

    void update(std::uint64_t done) {
        if (!on_ || seconds_since(last_) < 0.25) return;
        last_ = Clock::now();
        std::fprintf(stderr, "\racquire: %3.0f%% of %llu inter-photon times", 100.0 * static_cast<double>(done) / static_cast<double>(total_),
                     static_cast<unsigned long long>(total_));
        shown_ = true;
    }

    void done() {
        if (shown_) std::fprintf(stderr, "\racquire: 100%% of %llu inter-photon times\n", static_cast<unsigned long long>(total_));
    }

private:
    bool on_;
    std::uint64_t total_;
    Clock::time_point last_;
    bool shown_ = false;
};

PairSums snapshot(const std::int32_t* acf, const LagBins& bins, const Dromilt& dromilt) {
    PairSums now;
    now.pairs = bin_pair_sums(acf, bins);
    dromilt.getACFcnt(&now.photons, &now.ticks);
    return now;
}

PairSums difference(const PairSums& now, const PairSums& before) {
    PairSums d;
    d.pairs.resize(now.pairs.size());
    for (std::size_t b = 0; b < now.pairs.size(); ++b)
        d.pairs[b] = now.pairs[b] - (before.pairs.empty() ? 0 : before.pairs[b]);
    d.photons = now.photons - before.photons;
    d.ticks = now.ticks - before.ticks;
    return d;
}

}  // namespace

FileScan scan_photon_file(const std::string& path) {
    File file = open_for_reading(path);
    RecordReader reader(file.get(), path);
    std::vector<std::uint32_t> block(kBlockRecords);
    FileScan scan;
    for (;;) {
        const std::size_t got = reader.read(block.data(), kBlockRecords);
        for (std::size_t i = 0; i < got; ++i) {
            scan.ticks += block[i];
            if (block[i] > scan.largest) {
                scan.largest = block[i];
                scan.largest_at = scan.records + i;
            }
        }
        scan.records += got;
        if (got < kBlockRecords) break;
    }
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(file.get());
        if (size >= 0) scan.trailing_bytes = static_cast<std::uint64_t>(size) - 4 * scan.records;
    }
    if (scan.records == 0) throw Failure(path + " holds no inter-photon time (no whole 4-byte record)");
    return scan;
}

Acquisition acquire(const std::string& path, const FileScan& scan, const Setup& setup, const LagBins& bins,
                    const LibrarySet& libs, bool progress) {
    Acquisition a;
    const auto points = static_cast<std::size_t>(setup.mtau) + 1;
    a.acf.assign(points, 0);
    a.histogram.assign(setup.hist_slots(), 0);

    libs.dromilt.setupRealDromilt(setup.mtau, setup.duty_factor, setup.clock_ns);
    libs.quenlith.setupQuenlith(setup.hist_lb, setup.hist_ub, setup.hist_itv);
    libs.trelvin.setupTrelvin(setup.trace_ticks);
    TraceBuilder trace(libs.vennitch);

    // The per-photon exports, taken out of their structs for the loop.
    auto* const correlate = libs.dromilt.realACFrawArrIO;
    auto* const empty_window = libs.dromilt.resetrealACF;
    auto* const count_interval = libs.quenlith.addpntArrIO;
    auto* const bin_photon = libs.trelvin.trelvin;
    std::int32_t* const acf = a.acf.data();
    std::int32_t* const histogram = a.histogram.data();

    // Segments of equal numbers of photons for the standard errors; each ends
    // with a snapshot of the bins' pair sums and the counts.
    std::vector<std::uint64_t> ends;
    const auto segments = static_cast<std::uint64_t>(std::min<std::uint64_t>(setup.segments, scan.records));
    for (std::uint64_t k = 1; k <= segments; ++k) ends.push_back(scan.records * k / segments);
    PairSums before;
    before.pairs.assign(bins.size(), 0);

    const auto start = Clock::now();
    File file = open_for_reading(path);
    RecordReader reader(file.get(), path);
    std::vector<std::uint32_t> block(kBlockRecords);
    Progress shown(progress, scan.records);
    std::uint64_t done = 0;
    std::size_t segment = 0;
    while (done < scan.records) {
        const std::uint64_t until = ends[segment];
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockRecords, until - done));
        const auto read_start = Clock::now();
        const std::size_t got = reader.read(block.data(), want);
        a.read_seconds += seconds_since(read_start);
        if (got < want) throw Failure(path + " changed while it was read (it has fewer records than at first)");

        for (std::size_t i = 0; i < got; ++i) {
            const std::uint32_t tau = block[i];
            // Every step that the correlator takes counts its photon at lag 0;
            // a step that leaves entry 0 alone was refused at a full window.
            const std::int32_t photons_before = acf[0];
            correlate(acf, tau);
            if (acf[0] == photons_before) [[unlikely]] {
                if (a.refused++ == 0) a.first_refused = done + i;
                empty_window();
            }
            count_interval(histogram, tau);
            std::int32_t empty_bins = 0;
            const std::int32_t closed = bin_photon(tau, &empty_bins);
            if (closed != -32000) trace.add(closed, empty_bins);
        }
        done += got;
        if (done == until) {
            const PairSums now = snapshot(acf, bins, libs.dromilt);
            a.segments.push_back(difference(now, before));
            before = now;
            ++segment;
        }
        shown.update(done);
    }
    shown.done();
    a.trace = trace.finish();
    a.feed_seconds = seconds_since(start);

    const auto finish_start = Clock::now();
    libs.dromilt.getACFcnt(&a.photons, &a.ticks);
    a.whole = before;
    a.normalized.assign(points, 0.0);
    libs.plavenne.realACFnormArrIO(acf, a.normalized.data(), static_cast<std::int32_t>(points), a.photons, a.ticks);

    // The libraries' fit works on raw pair counts, lag 0 included; that entry
    // counts photons, so the fit gets a copy where it holds the lag-1 count.
    std::vector<std::int32_t> fit_input(a.acf);
    fit_input[0] = fit_input[1];
    a.library_fit.curve.assign(points, 0.0);
    a.library_fit.mse = libs.dromilt.fitRealDromilt(fit_input.data(), a.library_fit.curve.data(),
                                                    a.library_fit.coefficients, setup.library_iterations,
                                                    setup.library_guess);
    libs.dromilt.freeRealDromilt();
    a.finish_seconds = seconds_since(finish_start);
    return a;
}

}  // namespace fcs::host
