// Vennitch: joins successive blocks of 32-bit values into one array of the
// host's. The only state is the write position; every array is the host's.
//
// The exports carry common C names (the C library's socket call is also
// `connect`): the library never calls them itself, and this file includes no
// header that declares another `connect` or `reset`.
#include "Vennitch_api.h"
#include "library.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Vennitch {
    // Index of the destination element that the next value goes to: the
    // number of values appended since the load or the latest reset. Wider
    // than 32 bits and unsigned, so it never turns into a negative index.
    std::size_t write_position;
};

Vennitch state;  // zero at load

// Appends count values, element by element in ascending order, each read just
// before it is stored (a block that overlaps the destination sees the values
// already copied).
void append(const std::uint32_t* src, std::size_t count, std::uint32_t* dst) noexcept {
    std::uint32_t* out = dst + state.write_position;
    for (std::size_t i = 0; i < count; ++i) out[i] = src[i];
    state.write_position += count;
}

}  // namespace

void fcs::release_at_unload() noexcept {}  // no buffers

// Copies srcarr[0 .. srcarrlen - 1] into dstarr from the write position on and
// advances the position by srcarrlen. The host sizes dstarr for the write
// position plus srcarrlen values. The position is shared by every dstarr: it
// is not tied to an array. A srcarrlen of 0 or less, or a null srcarr or
// dstarr, copies nothing and leaves the position as it was.
void connect(fcs_ulong* srcarr, fcs_long srcarrlen, fcs_ulong* dstarr) noexcept {
    if (srcarrlen <= 0 || !srcarr || !dstarr) return;
    append(srcarr, static_cast<std::size_t>(srcarrlen), dstarr);
}

// Moves the write position back to 0; touches no array.
void reset() noexcept { state.write_position = 0; }
