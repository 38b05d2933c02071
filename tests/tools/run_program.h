// Running the host program as a user does: arguments in, exit status and the
// two streams out.
#pragma once

#include <string>
#include <vector>

namespace fcs::test {

struct ProgramRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out, err;
};

// Runs the built fcs-host with the given arguments; its streams go to files
// in `scratch` (an existing folder) and are read back.
ProgramRun run_host(const std::vector<std::string>& args, const std::string& scratch);

// The "  name: value" line under the heading that starts with `section` in a
// summary, as the text after ": "; empty when there is none.
std::string summary_value(const std::string& summary, const std::string& section, const std::string& name);

// The columns of a CSV file with a header line, by header name; empty fields
// become NaN. Fails the test (and returns what it has) when a row has the
// wrong number of fields or a field is not a number.
struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<double>> columns;
    const std::vector<double>& operator[](const std::string& name) const;
    std::size_t rows() const { return columns.empty() ? 0 : columns[0].size(); }
};
Csv read_csv(const std::string& path);

// The records of an inter-photon time file.
std::vector<std::uint32_t> read_records(const std::string& path);

}  // namespace fcs::test
