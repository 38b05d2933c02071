#include "fit_doubles.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

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
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto* recorder = reinterpret_cast<FitRecorderFn*>(dlsym(handle, kFitRecorderExport));
    dlclose(handle);  // only gives back the reference just taken
    return recorder ? &recorder() : nullptr;
}

bool fit_service_loaded() { return Library::resident(fcs::kFitServiceFile); }

bool rerun_in_fresh_process(const std::vector<std::pair<std::string, std::string>>& environment) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
    TempDir mark_folder;
    const std::string mark = mark_folder.file("reached");

    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = entry.rfind(std::string(kRerunMark) + "=", 0) == 0;
        for (const auto& [key, value] : environment) replaced = replaced || entry.rfind(key + "=", 0) == 0;
        if (!replaced) entries.push_back(entry);
    }
    for (const auto& [key, value] : environment) entries.push_back(key + "=" + value);
    entries.push_back(std::string(kRerunMark) + "=" + mark);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    char* argv[] = {self.data(), const_cast<char*>(filter.c_str()), nullptr};

    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        execve("/proc/self/exe", argv, envp.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::exists(mark);
}

bool in_fresh_process() {
    const char* mark = std::getenv(kRerunMark);
    if (!mark) return false;
    std::ofstream(mark) << "reached\n";
    return true;
}

}  // namespace fcs::test
