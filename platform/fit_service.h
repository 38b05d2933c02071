// The fit service: a nonlinear least-squares fit with an iteration limit,
// found at run time in a library file of its own by its one export. Shared by
// the libraries' fit-service binding and by the service itself.
#pragma once

#include <cstdint>

namespace fcs {

// Model of a fit: its value at lag x for the coefficients a[0..ncoef-1].
using FitModel = double(double x, const double* a, std::int32_t ncoef) noexcept;

// The service's one export. Fits `model` to the n points (x[i], y[i]),
// starting from the ncoef coefficients in a, in at most max_iter iterations.
// On success (status 0) it writes the fitted coefficients back into a, the
// model at every x with them into fitted, and the mean of (y - fitted)^2 over
// the n points into *mse. A negative status means that nothing was written.
using FitServiceFn = std::int32_t(const double* x, const double* y, double* fitted, std::int32_t n,
                                  std::int32_t max_iter, FitModel* model, double* a, std::int32_t ncoef,
                                  double* mse) noexcept;

inline constexpr char kFitServiceExport[] = "AALFunc131";

// Marks the one export of a service file (ours and the test stand-ins).
#if defined(_WIN32)
#define FCS_SERVICE_EXPORT extern "C" __declspec(dllexport)
#else
#define FCS_SERVICE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// File name of the service, looked up beside the calling library and by the
// loader's search; also the name (SONAME) under which it is found loaded.
#if defined(_WIN32)
inline constexpr char kFitServiceFile[] = "fitservice.dll";
#else
inline constexpr char kFitServiceFile[] = "libfitservice.so";
#endif

// Statuses of the service.
inline constexpr std::int32_t kFitDone = 0;
inline constexpr std::int32_t kFitBadArguments = -1;  // null pointer, n below ncoef, ncoef below 1
inline constexpr std::int32_t kFitNotFinite = -2;     // data, start or model at the start not finite
inline constexpr std::int32_t kFitNoMemory = -3;      // its working storage could not be had

}  // namespace fcs
