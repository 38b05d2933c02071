// Appending blocks into the host's arrays: order, the one write position
// shared by every destination, reset, and the common export names.
#include "Vennitch_api.h"
#include "host.h"

#if !defined(_WIN32)
#include "elf_file.h"

#include <dlfcn.h>
#include <elf.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

using fcs::test::capture;
using fcs::test::Library;
using fcs::test::library_path;

using Words = std::vector<std::uint32_t>;
constexpr std::uint32_t S = 0xDEADBEEF;  // a destination value nothing writes

class Vennitch : public ::testing::Test {
protected:
    Library lib{library_path("Vennitch")};
    vennitch_api::connect_fn* connect = FCS_FN(lib, vennitch, connect);
    vennitch_api::reset_fn* reset = FCS_FN(lib, vennitch, reset);

    void append(Words block, Words& dst) {
        connect(block.data(), static_cast<std::int32_t>(block.size()), dst.data());
    }
};

TEST_F(Vennitch, AppendsBlocksInOrderFromTheStart) {
    Words dst(8, S);
    const auto printed = capture([&] {
        append({1, 2, 3}, dst);  // right after the load: from index 0
        append({4, 5}, dst);
        append({6}, dst);
    });
    EXPECT_EQ(dst, (Words{1, 2, 3, 4, 5, 6, S, S}));
    EXPECT_EQ(printed.out + printed.err, "");

    // A reload starts again at index 0.
    lib.reload();
    connect = FCS_FN(lib, vennitch, connect);
    Words fresh(3, S);
    append({9}, fresh);
    EXPECT_EQ(fresh, (Words{9, S, S}));
}

TEST_F(Vennitch, EmptyOrMissingBlocksCopyNothing) {
    Words dst(4, S);
    Words src = {7, 7, 7};
    append({1}, dst);
    for (std::int32_t len : {0, -1, std::numeric_limits<std::int32_t>::min()}) connect(src.data(), len, dst.data());
    connect(nullptr, 3, dst.data());
    connect(src.data(), 3, nullptr);
    EXPECT_EQ(dst, (Words{1, S, S, S}));
    append({2}, dst);  // the write position is still 1
    EXPECT_EQ(dst, (Words{1, 2, S, S}));
}

TEST_F(Vennitch, ResetOverwritesFromIndexZeroAndLeavesTheRest) {
    Words dst(6, S);
    append({1, 2, 3, 4, 5}, dst);
    reset();
    EXPECT_EQ(dst, (Words{1, 2, 3, 4, 5, S}));  // reset touches no array
    append({6, 7}, dst);
    EXPECT_EQ(dst, (Words{6, 7, 3, 4, 5, S}));
}

TEST_F(Vennitch, DestinationsShareOneWritePosition) {
    Words first(6, S), second(6, S);
    reset();
    append({1, 2, 3, 4}, first);
    append({5, 6}, second);
    EXPECT_EQ(first, (Words{1, 2, 3, 4, S, S}));
    EXPECT_EQ(second, (Words{S, S, S, S, 5, 6}));
}

TEST_F(Vennitch, CopiesBitsUnchanged) {
    const Words values = {0x80000000, 0xFFFFFFFF, 0, 0x7FFFFFFF, 0x00000001, S};
    Words dst(values.size(), 0x5A5A5A5A);
    append(values, dst);
    EXPECT_EQ(dst, values);
}

TEST_F(Vennitch, OverlappingBlockSeesTheValuesAlreadyCopied) {
    // Each value is read just before it is stored: a block that starts one
    // element behind the write position copies its first value forward.
    Words buffer = {7, 1, 2, 3, S};
    Words one = {0};
    append(one, one);  // write position 1
    connect(buffer.data(), 3, buffer.data());
    EXPECT_EQ(buffer, (Words{7, 7, 7, 7, S}));
}

#if !defined(_WIN32)
using fcs::test::ElfFile;

// Names of the symbols that the file's dynamic relocations refer to: the
// names whose binding the loader decides at run time. The libraries are
// native 64-bit ELF files with RELA relocations.
static_assert(sizeof(void*) == 8, "reads 64-bit ELF files");
std::set<std::string> relocated_symbols(const ElfFile& file) {
    const auto dynsym = file.section(".dynsym");
    const auto dynstr = file.section(".dynstr");
    if (!dynsym || !dynstr) throw std::runtime_error("no dynamic symbol table");
    std::set<std::string> names;
    for (const char* name : {".rela.dyn", ".rela.plt"}) {
        const auto relocations = file.section(name);
        if (!relocations) continue;
        for (std::size_t at = 0; at + sizeof(Elf64_Rela) <= relocations->size(); at += sizeof(Elf64_Rela)) {
            Elf64_Rela rela;
            std::memcpy(&rela, relocations->data() + at, sizeof rela);
            const auto index = ELF64_R_SYM(rela.r_info);
            if (index == 0) continue;  // relative: no symbol
            Elf64_Sym sym;
            std::memcpy(&sym, dynsym->data() + index * sizeof(Elf64_Sym), sizeof sym);
            names.insert(dynstr->c_str() + sym.st_name);
        }
    }
    return names;
}
#endif

TEST_F(Vennitch, CommonNamesResolveToTheLibrarysOwn) {
    // A host resolving `connect` by name gets the library's export, not the C
    // library's socket call that is also loaded in the process.
    for (const char* name : {"connect", "reset"}) {
        const std::string file = Library::file_holding(lib.symbol(name));
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_TRUE(std::filesystem::equivalent(file, lib.path())) << name << " comes from " << file;
    }
#if !defined(_WIN32)
    void* c_library_connect = dlsym(RTLD_DEFAULT, "connect");
    ASSERT_NE(c_library_connect, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(connect), c_library_connect);

    // Inside the library nothing is bound by these names at load time, so no
    // same-named function of another file can take a call.
    const auto relocated = relocated_symbols(ElfFile(lib.path()));
    EXPECT_TRUE(relocated.count("calloc")) << "the relocations were not read";
    EXPECT_FALSE(relocated.count("connect"));
    EXPECT_FALSE(relocated.count("reset"));
#endif
    // A Windows DLL binds its own calls at link time, and imports nothing by
    // these names (the DLL check lists what it imports).
}

}  // namespace
