// The host side on Linux: the POSIX loader (dlopen), descriptors for the
// stream capture, fork and exec for a fresh process.
#include "host.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace fcs::test {

namespace {

void* open_library(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error("cannot load " + path + ": " + dlerror());
    return handle;
}

}  // namespace

Library::Library(std::string path) : path_(std::move(path)), handle_(open_library(path_)) {}

Library::~Library() {
    if (handle_) dlclose(handle_);
}

void* Library::symbol(const char* name) const { return dlsym(handle_, name); }

void Library::reload() {
    dlclose(handle_);
    handle_ = nullptr;
    if (resident(path_)) throw std::runtime_error(path_ + " stayed loaded after its unload");
    handle_ = open_library(path_);
}

bool Library::resident(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

void* Library::loaded_export(const std::string& path, const char* name) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* found = dlsym(handle, name);
    dlclose(handle);  // only gives back the reference just taken
    return found;
}

std::string Library::file_holding(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    return info.dli_fname;
}

StreamCapture::StreamCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int fd : {1, 2}) {
        FILE* file = std::tmpfile();
        if (!file) throw std::runtime_error("no temporary file for the stream capture");
        files_[fd - 1] = dup(fileno(file));
        std::fclose(file);  // the duplicate keeps the unlinked file alive
        saved_[fd - 1] = dup(fd);
        dup2(files_[fd - 1], fd);
    }
}

StreamCapture::~StreamCapture() {
    if (saved_[0] >= 0) take();
}

Printed StreamCapture::take() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::string text[2];
    for (int i = 0; i < 2; ++i) {
        dup2(saved_[i], i + 1);
        close(saved_[i]);
        saved_[i] = -1;
        lseek(files_[i], 0, SEEK_SET);
        char buffer[4096];
        for (ssize_t n; (n = read(files_[i], buffer, sizeof buffer)) > 0;) text[i].append(buffer, static_cast<size_t>(n));
        close(files_[i]);
        files_[i] = -1;
    }
    return {std::move(text[0]), std::move(text[1])};
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fcs-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> environment_entries() {
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) entries.emplace_back(*e);
    return entries;
}

int run_this_program(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    std::string self = "/proc/self/exe";
    std::vector<std::string> args = {self};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = environment;
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        execve(self.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t large_block_bytes() { return mallinfo2().hblkhd; }

bool refuse_allocations_from(const Library&, std::size_t bytes) {
    const rlimit cap{bytes, bytes};
    return setrlimit(RLIMIT_AS, &cap) == 0;
}

}  // namespace fcs::test
