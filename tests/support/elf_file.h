// Reads back what a built library file carries: its named sections, its
// exported symbols and its SONAME.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fcs::test {

class ElfFile {
public:
    explicit ElfFile(const std::string& path);  // throws if not a native ELF file

    // Bytes of the section with this name, if the file has one.
    std::optional<std::string> section(std::string_view name) const;

    // Names of the symbols the file exports: defined, non-local entries of
    // the dynamic symbol table, in table order.
    std::vector<std::string> exported_symbols() const;

    // The DT_SONAME entry, or "" if there is none.
    std::string soname() const;

private:
    std::string bytes_;
};

}  // namespace fcs::test
