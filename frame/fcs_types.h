// Boundary types and export conventions shared by every library.
//
// The prototypes of the libraries speak of `long`, `unsigned long` and
// `unsigned long long` as the 32-bit Windows compilers read them. Those widths
// are fixed here on every platform: on 64-bit Linux a C `long` is 64 bits, so
// no export may use the C type directly.
#pragma once

#include <cstdint>

using fcs_long = std::int32_t;        // prototype `long`
using fcs_ulong = std::uint32_t;      // prototype `unsigned long`
using fcs_ulonglong = std::uint64_t;  // prototype `unsigned long long`

static_assert(sizeof(fcs_long) == 4, "prototype long is 32 bits");
static_assert(sizeof(fcs_ulong) == 4, "prototype unsigned long is 32 bits");
static_assert(sizeof(fcs_ulonglong) == 8, "prototype unsigned long long is 64 bits");
static_assert(sizeof(double) == 8, "prototype double is IEEE binary64");

// Calling convention of every export: __stdcall where the hosts expect it
// (32-bit x86 Windows), the platform's C convention everywhere else.
#if defined(_WIN32) && defined(__i386__)
#define FCS_CALL __attribute__((stdcall))
#else
#define FCS_CALL
#endif

// Marks a declaration as one of the library's exports. Everything without it
// stays hidden (the libraries are built with hidden visibility). A Windows DLL
// exports what its module-definition file lists, generated from the same
// export list, so the declaration only needs C linkage there.
#if defined(_WIN32)
#define FCS_EXPORT extern "C"
#else
#define FCS_EXPORT extern "C" __attribute__((visibility("default")))
#endif
