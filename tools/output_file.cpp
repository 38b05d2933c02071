#include "output_file.h"

#include "failure.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fcs::host {

OutputFile::OutputFile(std::string path) : path_(std::move(path)), part_(path_ + ".part") {
    file_ = std::fopen(part_.c_str(), "wb");
    if (!file_) throw Failure("cannot write " + path_ + ": " + std::strerror(errno));
}

OutputFile::~OutputFile() {
    if (file_) {
        std::fclose(file_);
        std::remove(part_.c_str());
    }
}

void OutputFile::write(const void* data, std::size_t bytes) {
    if (!failed_ && bytes > 0 && std::fwrite(data, 1, bytes, file_) != bytes) failed_ = true;
}

void OutputFile::commit() {
    const bool written = !failed_ && std::ferror(file_) == 0;
    const int error = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        std::remove(part_.c_str());
        throw Failure("cannot write " + path_ + ": " + std::strerror(written ? errno : error));
    }
    if (std::rename(part_.c_str(), path_.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(part_.c_str());
        throw Failure("cannot write " + path_ + ": " + why);
    }
}

void make_folder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error || !std::filesystem::is_directory(path, error))
        throw Failure("cannot use the output folder " + path + (error ? ": " + error.message() : ": not a folder"));
}

}  // namespace fcs::host
