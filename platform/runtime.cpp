#include "runtime.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace fcs::rt {

void out(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void err(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void* zalloc(std::size_t count, std::size_t size) noexcept {
    if (count == 0) count = 1;  // a valid, distinct block even for no elements
    return std::calloc(count, size);
}

void release(void* block) noexcept { std::free(block); }

void attach_thread() noexcept {
#if defined(__i386__)
    unsigned short control;
    asm volatile("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>((control & ~0x0300u) | 0x0200u);  // precision control: 53 bits
    asm volatile("fldcw %0" : : "m"(control));
#endif
}

double pow(double x, double y) noexcept { return std::pow(x, y); }
double floor(double x) noexcept { return std::floor(x); }
double ceil(double x) noexcept { return std::ceil(x); }

}  // namespace fcs::rt
