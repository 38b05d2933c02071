// What each built library file carries: exactly its exports, its prototype
// text byte for byte, its SONAME and its version record.
#include "elf_file.h"
#include "host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using fcs::test::ElfFile;
using fcs::test::library_path;

struct Deliverable {
    const char* name;
    std::vector<std::string> prototypes;  // in ordinal order
};

// The prototype lines that hosts know, as the library files must carry them.
const std::vector<Deliverable>& deliverables() {
    static const std::vector<Deliverable> table = {
        {"Corvanel",
         {"double __stdcall ACFFit1(void);",
          "double __stdcall ACFFit1ArrIO(long *yarr, long arrsize, double *fityarr, double *fitcoef, long iter, "
          "long guess);",
          "void __stdcall ACFFree(void);",
          "void __stdcall ACFsetupArrIO(long arrsize, const double clock_ns);",
          "double __stdcall calcRealACFdutyFactor(double m, long c);",
          "long __stdcall calcRealACFmtau(long m, long c);",
          "void __stdcall file2acf(char *cfn, char *dfn, long mtau, double dutyFactor, double clock_ns);",
          "long __stdcall realACFraw(long tau);",
          "void __stdcall realACFrawArrIO(long *delay, long *acf, long tau, long *idelay, long mtau, long mdelay);",
          "long __stdcall setupRealACF(long mtau, double dutyFactor, double clock_ns);",
          "long __stdcall writeRealACFraw2CSV(char *fnameCSV);"}},
        {"Dromilt",
         {"double __stdcall calcRealACFdutyFactor(double m, long c);",
          "long __stdcall calcRealACFmtau(long m, long c);",
          "double __stdcall fitRealDromilt(long *acfarr, double *fitarr, double *fitcoefarr, long maxiter, long guess);",
          "void __stdcall freeRealDromilt(void);",
          "void __stdcall getACFcnt(unsigned long long *acntpt, unsigned long long *tcntpt);",
          "void __stdcall realACFnormArrIO(long *acfarr, double *nacfarr);",
          "void __stdcall realACFrawArrIO(long *acf, unsigned long tau);",
          "void __stdcall resetrealACF(void);",
          "void __stdcall setupRealDromilt(long mtau, double dutyFactor, const double clock_ns);"}},
        {"Plavenne",
         {"void __stdcall realACFnormArrIO(long *acfarr, double *nacfarr, long arrsize, unsigned long long acnt, "
          "unsigned long long tcnt);"}},
        {"Quenbar",
         {"void __stdcall addpnt(long ipt);",
          "void __stdcall addpntArrIO(long *quenbararr, unsigned long ipt);",
          "void __stdcall clearQuenbar(void);",
          "void __stdcall file2acf(char *cfn, char *dfn, long lb, long ub, long itv);",
          "void __stdcall getQuenbarCopy(long *quenbarArr);",
          "void __stdcall setupQuenbar(long lb, long ub, long itv);",
          "void __stdcall writeQuenbar(char *fname);"}},
        {"Quenlith",
         {"void __stdcall addpntArrIO(long *quenbararr, unsigned long ipt);",
          "void __stdcall setupQuenlith(long lb, long ub, long itv);"}},
        {"Trelvin",
         {"long __stdcall calcTrelvin(long binWidth_ns, long clockPeriod_ns);",
          "long __stdcall getTrelvinEmptyBins(void);",
          "long __stdcall setupTrelvin(long binWidth);",
          "long __stdcall trelvin(unsigned long tau, long *emptybins);"}},
        {"Vennitch",
         {"void __stdcall connect(unsigned long *srcarr, long srcarrlen, unsigned long *dstarr);",
          "void __stdcall reset(void);"}},
    };
    return table;
}

std::string export_name(const std::string& prototype) {
    const auto open = prototype.find('(');
    const auto start = prototype.rfind(' ', open) + 1;
    return prototype.substr(start, open - start);
}

// Key and value pairs of the version record, up to the empty key that ends it.
std::map<std::string, std::string> version_strings(const std::string& record) {
    std::map<std::string, std::string> strings;
    std::size_t at = 0;
    while (at < record.size() && record[at] != '\0') {
        const std::string key(record.c_str() + at);
        at += key.size() + 1;
        if (at >= record.size()) throw std::runtime_error("version record ends inside a pair");
        const std::string value(record.c_str() + at);
        at += value.size() + 1;
        strings[key] = value;
    }
    return strings;
}

class LibraryFile : public ::testing::TestWithParam<Deliverable> {};

TEST_P(LibraryFile, ExportsExactlyItsNames) {
    const auto& lib = GetParam();
    std::vector<std::string> expected;
    for (const auto& line : lib.prototypes) expected.push_back(export_name(line));
    // Ordinals follow ASCII order of the names: the list must already be in it.
    EXPECT_TRUE(std::is_sorted(expected.begin(), expected.end()));

    auto exported = ElfFile(library_path(lib.name)).exported_symbols();
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(exported, expected);
}

TEST_P(LibraryFile, CarriesItsPrototypeTextPaddedWithNuls) {
    const auto& lib = GetParam();
    std::string expected;
    for (const auto& line : lib.prototypes) expected += line + "\n";
    expected.append(4 - expected.size() % 4, '\0');  // one to four NULs, to a multiple of 4

    const auto text = ElfFile(library_path(lib.name)).section("CVIDLLPROTOTYPES");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, expected);
}

TEST_P(LibraryFile, CarriesItsSonameAndVersionRecord) {
    const auto& lib = GetParam();
    const std::string name = lib.name;
    const ElfFile file(library_path(name));
    EXPECT_EQ(file.soname(), "lib" + name + ".so.1");

    const auto record = file.section("VERSIONINFO");
    ASSERT_TRUE(record.has_value());
    const auto strings = version_strings(*record);
    EXPECT_EQ(strings.at("FileDescription"), name);
    EXPECT_EQ(strings.at("InternalName"), name);
    EXPECT_EQ(strings.at("OriginalFilename"), "lib" + name + ".so");
    EXPECT_EQ(strings.at("FileVersion"), "1.0");
    EXPECT_EQ(strings.at("ProductVersion"), "1.0");
    for (const char* key : {"CompanyName", "ProductName", "LegalCopyright"}) EXPECT_FALSE(strings.at(key).empty()) << key;
}

INSTANTIATE_TEST_SUITE_P(Deliverables, LibraryFile, ::testing::ValuesIn(deliverables()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
