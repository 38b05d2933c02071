// The host side that needs no platform's loader or streams.
#include "host.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fcs::test {

std::string library_path(std::string_view name) { return std::string(FCS_LIBRARY_DIR) + "/" + library_file_name(name); }

std::string library_file_name(std::string_view name) {
    return FCS_LIBRARY_PREFIX + std::string(name) + FCS_LIBRARY_SUFFIX;
}

std::pair<std::string, std::string> loader_search_path_with(const std::string& folder) {
#if defined(_WIN32)
    const char* path = std::getenv("PATH");
    return {"PATH", path ? folder + ";" + path : folder};
#else
    return {"LD_LIBRARY_PATH", folder};
#endif
}

std::string text_file(std::string_view lines) {
#if defined(_WIN32)
    std::string text;
    for (const char c : lines) {
        if (c == '\n') text += '\r';
        text += c;
    }
    return text;
#else
    return std::string(lines);
#endif
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

}  // namespace fcs::test
