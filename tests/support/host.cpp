#include "host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fcs::test {

std::string library_path(std::string_view name) {
    return std::string(FCS_LIBRARY_DIR) + "/" + FCS_LIBRARY_PREFIX + std::string(name) + FCS_LIBRARY_SUFFIX;
}

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

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
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

}  // namespace fcs::test
