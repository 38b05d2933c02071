// The physical fit: the standard model of free diffusion through a
// three-dimensional Gaussian detection volume,
//   G(t) = G_inf + (1/N) / (1 + t/tD) / sqrt(1 + t/(k^2 tD)),
// fitted to the averaged correlation, weighted by its standard errors, with
// Eigen's Levenberg-Marquardt. The structure factor k is fixed, or fitted
// within bounds.
#pragma once

#include "averaging.h"

#include <optional>
#include <string>
#include <vector>

namespace fcs::host {

struct DiffusionModel {
    double offset = 0.0;     // G_inf
    double amplitude = 0.0;  // 1/N
    double td_ns = 0.0;      // diffusion time
    double kappa = 5.0;      // structure factor z0/w0

    double at(double lag_ns) const;
    // The model's mean over the lags of a bin from first_ns to last_ns (the
    // data are pooled over the same lags), by Simpson's rule.
    double over(double first_ns, double last_ns) const;
};

struct DiffusionFitSettings {
    double kappa = 5.0;
    std::optional<double> kappa_low, kappa_high;  // both set: k is fitted within them
};

struct DiffusionFit {
    bool done = false;
    std::string problem;  // why there is no fit, when !done
    DiffusionModel model;
    double td_se_ns = 0.0;
    double molecules = 0.0, molecules_se = 0.0;
    double offset_se = 0.0;
    double kappa_se = 0.0;  // 0 when k was fixed
    bool kappa_fitted = false;
    bool kappa_at_bound = false;  // fitted, and ended at one of its bounds
    std::size_t points = 0;
    int degrees_of_freedom = 0;
    double chi2 = 0.0;
    double reduced_chi2 = 0.0;
};

// Fits the points with a finite, positive standard error. The standard errors
// of the results come from the covariance of the weighted fit, (J^T J)^-1 at
// the solution, with the given standard errors taken as they are.
DiffusionFit fit_diffusion(const std::vector<AveragedPoint>& points, const DiffusionFitSettings& settings);

// Standard errors that also hold when the errors of neighbouring lags are
// correlated (they are: a segment with more molecules than the mean raises
// the whole curve): the jackknife over segments, from the fits of the curves
// that leave one segment out each.
struct JackknifeErrors {
    bool done = false;
    double td_ns = 0.0, molecules = 0.0, offset = 0.0;
    std::size_t fits = 0;
};
JackknifeErrors jackknife_errors(const std::vector<std::vector<AveragedPoint>>& leave_outs,
                                 const DiffusionFitSettings& settings);

}  // namespace fcs::host
