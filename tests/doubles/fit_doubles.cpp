#include "fit_doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fcs::test {

namespace {

constexpr char kRerunMark[] = "FCS_TEST_RERUN_MARK";

}  // namespace

std::string recording_fit_service_path() { return FCS_RECORDING_FIT_SERVICE; }
std::string decoy_fit_service_path() { return FCS_DECOY_FIT_SERVICE; }
std::string fit_service_path() { return std::string(FCS_LIBRARY_DIR) + "/" + fcs::kFitServiceFile; }

std::string place_copy(const std::string& folder, const std::string& from, std::string_view name) {
    const std::string to = folder + "/" + std::string(name);
    std::filesystem::remove(to);  // a file still mapped by a loaded copy is never overwritten in place
    std::filesystem::copy_file(std::filesystem::canonical(from), to);
    return to;
}

FitRecorder* loaded_recorder(const std::string& path) {
    auto* recorder = reinterpret_cast<FitRecorderFn*>(Library::loaded_export(path, kFitRecorderExport));
    return recorder ? &recorder() : nullptr;
}

bool fit_service_loaded() { return Library::resident(fcs::kFitServiceFile); }

bool rerun_in_fresh_process(const std::vector<std::pair<std::string, std::string>>& environment) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    TempDir mark_folder;
    const std::string mark = mark_folder.file("reached");

    // Windows spells variable names in any case.
#if defined(_WIN32)
    const auto same_key = [](const std::string& entry, const std::string& key) {
        return entry.size() > key.size() && entry[key.size()] == '=' &&
               std::equal(key.begin(), key.end(), entry.begin(), [](char a, char b) {
                   return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
               });
    };
#else
    const auto same_key = [](const std::string& entry, const std::string& key) { return entry.rfind(key + "=", 0) == 0; };
#endif
    std::vector<std::string> entries;
    for (const auto& entry : environment_entries()) {
        bool replaced = same_key(entry, kRerunMark);
        for (const auto& [key, value] : environment) replaced = replaced || same_key(entry, key);
        if (!replaced) entries.push_back(entry);
    }
    for (const auto& [key, value] : environment) entries.push_back(key + "=" + value);
    entries.push_back(std::string(kRerunMark) + "=" + mark);

    return run_this_program({filter}, entries) == 0 && std::filesystem::exists(mark);
}

bool in_fresh_process() {
    const char* mark = std::getenv(kRerunMark);
    if (!mark) return false;
    std::ofstream(mark) << "reached\n";
    return true;
}

}  // namespace fcs::test
