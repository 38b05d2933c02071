// Run-time services that the libraries call in place of the platform's
// run-time engine: the two message streams, zero-filled allocation and the
// math calls. Each library carries its own copy.
#pragma once

#include <cstddef>

namespace fcs::rt {

// Writes a message on the standard output stream: the literal with its
// arguments, nothing added, no flush. A failed write goes unnoticed.
void out(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// The same on the standard error stream.
void err(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

// A zero-filled block of count elements of the given size, or nullptr when it
// cannot be had (including a size that overflows).
void* zalloc(std::size_t count, std::size_t size) noexcept;

// Releases a block from zalloc; nullptr is ignored.
void release(void* block) noexcept;

template <class T>
T* zalloc_array(std::size_t count) noexcept {
    return static_cast<T*>(zalloc(count, sizeof(T)));
}

// Releases an array and clears the owner's pointer, so that nothing can reach
// the released block and a second release does nothing.
template <class T>
void release_array(T*& block) noexcept {
    release(block);
    block = nullptr;
}

// Called once in the thread that loads the library: sets its x87 precision
// control to double (53-bit significand), leaving rounding mode and exception
// masks as they were, so that what the host computes on the x87 unit after the
// load rounds as the libraries' own SSE2 arithmetic does. Nothing on targets
// without an x87 unit in use.
void attach_thread() noexcept;

double pow(double x, double y) noexcept;
double floor(double x) noexcept;
double ceil(double x) noexcept;

}  // namespace fcs::rt
