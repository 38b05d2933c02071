// Output files that appear whole or not at all: the text goes to a temporary
// file beside the target, which takes the target's name only once everything
// has been written and closed without error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace fcs::host {

class OutputFile {
public:
    // Opens <path>.part for writing; throws Failure when it cannot.
    explicit OutputFile(std::string path);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const void* data, std::size_t bytes);
    void write(std::string_view text) { write(text.data(), text.size()); }

    // Closes the file and gives it its name; throws Failure on any write error.
    void commit();

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string part_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

// Creates the folder (and its parents) if needed; throws Failure when it
// cannot or when the path is not a folder.
void make_folder(const std::string& path);

}  // namespace fcs::host
