// Reading an inter-photon time file: headerless 4-byte records, each one
// inter-photon time in clock ticks, least significant byte first. One to
// three trailing bytes make an incomplete record, which is ignored.
#pragma once

#include <cstdint>
#include <cstdio>

namespace fcs {

// Feeds every whole record of an open file, in file order, to feed(uint32_t).
// Reading ends at the first read that yields no whole record, whether at the
// end of the file or on a read error. Returns the number of records fed.
template <class Feed>
std::uint64_t for_each_record(std::FILE* file, Feed&& feed) {
    unsigned char block[1 << 14];
    std::uint64_t records = 0;
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file);
        const std::size_t whole = got / 4 * 4;
        for (std::size_t at = 0; at < whole; at += 4) {
            feed(static_cast<std::uint32_t>(block[at]) | static_cast<std::uint32_t>(block[at + 1]) << 8 |
                 static_cast<std::uint32_t>(block[at + 2]) << 16 | static_cast<std::uint32_t>(block[at + 3]) << 24);
        }
        records += whole / 4;
        if (got < sizeof block) return records;  // end of file or error: a partial record is dropped
    }
}

}  // namespace fcs
