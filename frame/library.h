// What the frame asks of each library.
#pragma once

namespace fcs {

// Called once when the library file is unloaded from the process: releases
// every buffer the library still owns, so that an unload leaks nothing.
// Each library defines it next to its state.
void release_at_unload() noexcept;

}  // namespace fcs
