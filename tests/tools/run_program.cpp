#include "run_program.h"

#include "host.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace fcs::test {

ProgramRun run_host(const std::vector<std::string>& args, const std::string& scratch) {
    std::vector<std::string> words{FCS_HOST_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    const std::string out_path = scratch + "/run.out", err_path = scratch + "/run.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(std::string("cannot start ") + FCS_HOST_PROGRAM);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_file(out_path);
    run.err = read_file(err_path);
    return run;
}

std::string summary_value(const std::string& summary, const std::string& section, const std::string& name) {
    std::istringstream lines(summary);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != ' ') {
            inside = line.rfind(section, 0) == 0;
            continue;
        }
        const std::string key = "  " + name + ": ";
        if (inside && line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return "";
}

const std::vector<double>& Csv::operator[](const std::string& name) const {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return columns[i];
    throw std::runtime_error("no column " + name);
}

Csv read_csv(const std::string& path) {
    Csv csv;
    std::istringstream lines(read_file(path));
    std::string line;
    if (!std::getline(lines, line)) {
        ADD_FAILURE() << path << " is empty";
        return csv;
    }
    for (std::istringstream fields(line); std::getline(fields, line, ',');) csv.header.push_back(line);
    csv.columns.resize(csv.header.size());
    std::size_t row = 0;
    while (std::getline(lines, line)) {
        ++row;
        std::size_t field = 0, start = 0;
        for (;;) {
            const std::size_t comma = line.find(',', start);
            const std::string text = line.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            char* end = nullptr;
            const double value = text.empty() ? NAN : std::strtod(text.c_str(), &end);
            if (!text.empty() && *end != '\0') {
                ADD_FAILURE() << path << " row " << row << ": '" << text << "' is not a number";
                return csv;
            }
            if (field < csv.columns.size()) csv.columns[field].push_back(value);
            ++field;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (field != csv.header.size()) {
            ADD_FAILURE() << path << " row " << row << " has " << field << " fields for " << csv.header.size();
            return csv;
        }
    }
    return csv;
}

std::vector<std::uint32_t> read_records(const std::string& path) {
    const std::string bytes = read_file(path);
    std::vector<std::uint32_t> records(bytes.size() / 4);
    for (std::size_t i = 0; i < records.size(); ++i)
        for (int b = 0; b < 4; ++b)
            records[i] |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[4 * i + static_cast<std::size_t>(b)]))
                          << (8 * b);
    return records;
}

}  // namespace fcs::test
