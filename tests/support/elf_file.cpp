#include "elf_file.h"

#include "host.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <stdexcept>

namespace fcs::test {

namespace {

template <class T>
T read_at(const std::string& bytes, std::size_t offset) {
    if (offset + sizeof(T) > bytes.size()) throw std::runtime_error("ELF file truncated");
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::vector<ElfW(Shdr)> section_headers(const std::string& bytes) {
    const auto header = read_at<ElfW(Ehdr)>(bytes, 0);
    std::vector<ElfW(Shdr)> sections;
    for (unsigned i = 0; i < header.e_shnum; ++i)
        sections.push_back(read_at<ElfW(Shdr)>(bytes, header.e_shoff + i * std::size_t{header.e_shentsize}));
    return sections;
}

std::string c_string_at(const std::string& bytes, std::size_t offset) {
    if (offset >= bytes.size()) throw std::runtime_error("ELF string outside the file");
    return std::string(bytes.c_str() + offset);
}

const ElfW(Shdr)* find_type(const std::vector<ElfW(Shdr)>& sections, unsigned type) {
    for (const auto& s : sections)
        if (s.sh_type == type) return &s;
    return nullptr;
}

}  // namespace

ElfFile::ElfFile(const std::string& path) : bytes_(read_file(path)) {
    if (bytes_.size() < sizeof(ElfW(Ehdr)) || std::memcmp(bytes_.data(), ELFMAG, SELFMAG) != 0)
        throw std::runtime_error(path + " is not an ELF file");
}

std::optional<std::string> ElfFile::section(std::string_view name) const {
    const auto sections = section_headers(bytes_);
    const auto header = read_at<ElfW(Ehdr)>(bytes_, 0);
    const auto& names = sections.at(header.e_shstrndx);
    for (const auto& s : sections) {
        if (c_string_at(bytes_, names.sh_offset + s.sh_name) != name) continue;
        if (s.sh_offset + s.sh_size > bytes_.size()) throw std::runtime_error("section outside the file");
        return bytes_.substr(s.sh_offset, s.sh_size);
    }
    return std::nullopt;
}

std::vector<std::string> ElfFile::exported_symbols() const {
    const auto sections = section_headers(bytes_);
    const auto* dynsym = find_type(sections, SHT_DYNSYM);
    if (!dynsym) return {};
    const auto& strings = sections.at(dynsym->sh_link);
    std::vector<std::string> names;
    for (std::size_t off = 0; off + sizeof(ElfW(Sym)) <= dynsym->sh_size; off += sizeof(ElfW(Sym))) {
        const auto sym = read_at<ElfW(Sym)>(bytes_, dynsym->sh_offset + off);
        const auto bind = ELF64_ST_BIND(sym.st_info);
        if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE)) continue;
        names.push_back(c_string_at(bytes_, strings.sh_offset + sym.st_name));
    }
    return names;
}

std::string ElfFile::soname() const {
    const auto sections = section_headers(bytes_);
    const auto* dynamic = find_type(sections, SHT_DYNAMIC);
    if (!dynamic) return "";
    const auto& strings = sections.at(dynamic->sh_link);
    for (std::size_t off = 0; off + sizeof(ElfW(Dyn)) <= dynamic->sh_size; off += sizeof(ElfW(Dyn))) {
        const auto entry = read_at<ElfW(Dyn)>(bytes_, dynamic->sh_offset + off);
        if (entry.d_tag == DT_SONAME) return c_string_at(bytes_, strings.sh_offset + entry.d_un.d_val);
        if (entry.d_tag == DT_NULL) break;
    }
    return "";
}

}  // namespace fcs::test
