#include "physical_fit.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <cmath>

namespace fcs::host {

double DiffusionModel::at(double lag_ns) const {
    const double a = lag_ns / td_ns;
    const double b = a / (kappa * kappa);
    return offset + amplitude / (1.0 + a) / std::sqrt(1.0 + b);
}

double DiffusionModel::over(double first_ns, double last_ns) const {
    if (first_ns == last_ns) return at(first_ns);
    return (at(first_ns) + 4.0 * at((first_ns + last_ns) / 2.0) + at(last_ns)) / 6.0;
}

namespace {

using Vector = Eigen::VectorXd;
using Matrix = Eigen::MatrixXd;

// Fit parameters: G_inf, 1/N, ln tD and, when k is free, an angle phi with
// k = low + (high - low) (1 + sin phi) / 2, which keeps k within its bounds.
struct Parameters {
    const DiffusionFitSettings& settings;
    bool free_kappa() const { return settings.kappa_low && settings.kappa_high; }
    double kappa(const Vector& p) const {
        if (!free_kappa()) return settings.kappa;
        return *settings.kappa_low + (*settings.kappa_high - *settings.kappa_low) * (1.0 + std::sin(p[3])) / 2.0;
    }
    double dkappa(const Vector& p) const {
        return (*settings.kappa_high - *settings.kappa_low) * std::cos(p[3]) / 2.0;
    }
    DiffusionModel model(const Vector& p) const { return {p[0], p[1], std::exp(p[2]), kappa(p)}; }
};

struct Residuals : Eigen::DenseFunctor<double> {
    Residuals(const std::vector<AveragedPoint>& points_, const Parameters& parameters_, int unknowns)
        : Eigen::DenseFunctor<double>(unknowns, static_cast<int>(points_.size())),
          points(points_),
          parameters(parameters_) {}

    int operator()(const Vector& p, Vector& r) const {
        const DiffusionModel m = parameters.model(p);
        for (std::size_t j = 0; j < points.size(); ++j) {
            const AveragedPoint& q = points[j];
            r[static_cast<Eigen::Index>(j)] = (m.over(q.first_ns, q.last_ns) - q.g) / q.se;
        }
        return 0;
    }

    // Derivatives of the model at one lag with respect to each parameter.
    void gradient_at(const Vector& p, const DiffusionModel& m, double t, double* d) const {
        const double a = t / m.td_ns;
        const double b = a / (m.kappa * m.kappa);
        const double u = 1.0 / (1.0 + a) / std::sqrt(1.0 + b);
        d[0] = 1.0;
        d[1] = u;
        d[2] = m.amplitude * u * (a / (1.0 + a) + 0.5 * b / (1.0 + b));
        if (parameters.free_kappa()) d[3] = m.amplitude * u * b / (m.kappa * (1.0 + b)) * parameters.dkappa(p);
    }

    int df(const Vector& p, Matrix& jacobian) const {
        const DiffusionModel m = parameters.model(p);
        const auto unknowns = static_cast<int>(p.size());
        for (std::size_t j = 0; j < points.size(); ++j) {
            const AveragedPoint& q = points[j];
            double d[4] = {0, 0, 0, 0};
            if (q.first_ns == q.last_ns) {
                gradient_at(p, m, q.first_ns, d);
            } else {
                double lo[4] = {0, 0, 0, 0}, mid[4] = {0, 0, 0, 0}, hi[4] = {0, 0, 0, 0};
                gradient_at(p, m, q.first_ns, lo);
                gradient_at(p, m, (q.first_ns + q.last_ns) / 2.0, mid);
                gradient_at(p, m, q.last_ns, hi);
                for (int k = 0; k < unknowns; ++k) d[k] = (lo[k] + 4.0 * mid[k] + hi[k]) / 6.0;
            }
            for (int k = 0; k < unknowns; ++k) jacobian(static_cast<Eigen::Index>(j), k) = d[k] / q.se;
        }
        return 0;
    }

    const std::vector<AveragedPoint>& points;
    const Parameters& parameters;
};

}  // namespace

DiffusionFit fit_diffusion(const std::vector<AveragedPoint>& all, const DiffusionFitSettings& settings) {
    DiffusionFit fit;
    std::vector<AveragedPoint> points;
    for (const AveragedPoint& p : all)
        if (std::isfinite(p.g) && std::isfinite(p.se) && p.se > 0.0) points.push_back(p);
    const Parameters parameters{settings};
    const int unknowns = parameters.free_kappa() ? 4 : 3;
    fit.points = points.size();
    fit.kappa_fitted = parameters.free_kappa();
    if (points.size() < static_cast<std::size_t>(unknowns) + 2) {
        fit.problem = "too few averaged points with a standard error in the fit range (" +
                      std::to_string(points.size()) + ")";
        return fit;
    }

    // Start: the offset at the last point, the amplitude from the first, and
    // tD where the curve has fallen half way.
    Vector p(unknowns);
    const double offset = points.back().g;
    const double amplitude = points.front().g - offset;
    if (!(amplitude > 0.0)) {
        fit.problem = "the correlation does not fall over the fit range";
        return fit;
    }
    double td = std::sqrt(points.front().lag_ns * points.back().lag_ns);
    for (const AveragedPoint& q : points)
        if (q.g - offset < amplitude / 2.0) {
            td = q.lag_ns;
            break;
        }
    p[0] = offset;
    p[1] = amplitude;
    p[2] = std::log(td);
    if (parameters.free_kappa()) {
        const double low = *settings.kappa_low, high = *settings.kappa_high;
        const double k = std::clamp(settings.kappa, low, high);
        p[3] = std::asin(std::clamp(2.0 * (k - low) / (high - low) - 1.0, -0.999, 0.999));
    }

    Residuals residuals(points, parameters, unknowns);
    Eigen::LevenbergMarquardt<Residuals> lm(residuals);
    lm.setMaxfev(2000);
    const auto status = lm.minimize(p);
    using namespace Eigen::LevenbergMarquardtSpace;
    if (status == ImproperInputParameters || status == TooManyFunctionEvaluation || status == UserAsked) {
        fit.problem = status == TooManyFunctionEvaluation ? "the fit did not converge" : "the fit could not start";
        return fit;
    }

    Vector r(static_cast<Eigen::Index>(points.size()));
    residuals(p, r);
    Matrix jacobian(static_cast<Eigen::Index>(points.size()), unknowns);
    residuals.df(p, jacobian);
    // A structure factor that ended at a bound is reported there, without an
    // error; the others' errors then hold for k at that bound.
    if (parameters.free_kappa() && 1.0 - std::fabs(std::sin(p[3])) < 1e-4) {
        fit.kappa_at_bound = true;
        jacobian.conservativeResize(Eigen::NoChange, 3);
    }
    const Matrix normal = jacobian.transpose() * jacobian;
    const Eigen::FullPivLU<Matrix> lu(normal);
    if (!r.allFinite() || !lu.isInvertible()) {
        fit.problem = "the fit ended where its parameters are not determined";
        return fit;
    }
    const Matrix covariance = lu.inverse();

    fit.model = parameters.model(p);
    if (!(fit.model.amplitude > 0.0) || !std::isfinite(fit.model.td_ns)) {
        fit.problem = "the fit ended at a curve without a positive amplitude";
        return fit;
    }
    fit.offset_se = std::sqrt(covariance(0, 0));
    fit.molecules = 1.0 / fit.model.amplitude;
    fit.molecules_se = std::sqrt(covariance(1, 1)) / (fit.model.amplitude * fit.model.amplitude);
    fit.td_se_ns = fit.model.td_ns * std::sqrt(covariance(2, 2));
    if (parameters.free_kappa() && !fit.kappa_at_bound)
        fit.kappa_se = std::fabs(parameters.dkappa(p)) * std::sqrt(covariance(3, 3));
    fit.chi2 = r.squaredNorm();
    fit.degrees_of_freedom = static_cast<int>(points.size()) - unknowns;
    fit.reduced_chi2 = fit.chi2 / fit.degrees_of_freedom;
    fit.done = true;
    return fit;
}

JackknifeErrors jackknife_errors(const std::vector<std::vector<AveragedPoint>>& leave_outs,
                                 const DiffusionFitSettings& settings) {
    JackknifeErrors errors;
    std::vector<DiffusionFit> fits;
    for (const auto& points : leave_outs) {
        fits.push_back(fit_diffusion(points, settings));
        if (!fits.back().done) return errors;
    }
    const std::size_t n = fits.size();
    if (n < 2) return errors;
    const auto spread = [&](auto value) {
        double mean = 0.0;
        for (const DiffusionFit& f : fits) mean += value(f) / static_cast<double>(n);
        double squares = 0.0;
        for (const DiffusionFit& f : fits) squares += (value(f) - mean) * (value(f) - mean);
        return std::sqrt(squares * static_cast<double>(n - 1) / static_cast<double>(n));
    };
    errors.td_ns = spread([](const DiffusionFit& f) { return f.model.td_ns; });
    errors.molecules = spread([](const DiffusionFit& f) { return f.molecules; });
    errors.offset = spread([](const DiffusionFit& f) { return f.model.offset; });
    errors.fits = n;
    errors.done = true;
    return errors;
}

}  // namespace fcs::host
