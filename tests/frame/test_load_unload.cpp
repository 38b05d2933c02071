// Load and unload: a library starts from all-zero state at every load, really
// leaves the process when unloaded, and takes its buffers with it.
#include "Corvanel_api.h"
#include "host.h"

#include <gtest/gtest.h>

namespace {

using fcs::test::capture;
using fcs::test::Library;
using fcs::test::library_path;

TEST(LoadUnload, ReloadStartsFromZeroState) {
    Library lib(library_path("Corvanel"));
    auto* setup = FCS_FN(lib, corvanel, setupRealACF);
    auto* raw = FCS_FN(lib, corvanel, realACFraw);

    // Leave the correlator set up and overflowed: every step then complains.
    ASSERT_EQ(setup(10, 0.0, 1.0), 1);
    ASSERT_EQ(raw(3), 3);
    EXPECT_FALSE(capture([&] { EXPECT_EQ(raw(4), 0); }).out.empty());

    lib.reload();  // throws unless the file really left the process
    raw = FCS_FN(lib, corvanel, realACFraw);

    // Fresh state: no correlator, so a step counts nothing and says nothing.
    const auto printed = capture([&] { EXPECT_EQ(raw(3), 0); });
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, "");
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator keeps its own books; its leak check covers this
TEST(LoadUnload, UnloadReleasesTheLibrarysBuffers) {
    // Large blocks are mapped on their own, so the mapped total shows them.
    const auto mapped = fcs::test::large_block_bytes;
    const auto before = mapped();
    {
        Library lib(library_path("Corvanel"));
        ASSERT_EQ(FCS_FN(lib, corvanel, setupRealACF)(4'000'000, 0.001, 1.0), 4001);
        ASSERT_GT(mapped(), before + 100'000'000);  // counts, delay list and fit workspace
    }
    EXPECT_LT(mapped(), before + 1'000'000);
}
#endif

}  // namespace
