// Our fit service: Levenberg-Marquardt least squares with a forward-difference
// Jacobian, from Eigen's LevenbergMarquardt module, run one iteration at a
// time so that the caller's limit counts iterations.
#include "fit_service.h"

#include <unsupported/Eigen/LevenbergMarquardt>

#include <cmath>
#include <new>
#include <type_traits>

FCS_SERVICE_EXPORT fcs::FitServiceFn AALFunc131;

namespace {

using Vector = Eigen::VectorXd;

// The residuals model(x[i]) - y[i] at coefficients a.
struct Residuals : Eigen::DenseFunctor<double> {
    Residuals(const double* x_, const double* y_, int n, int ncoef, fcs::FitModel* model_)
        : Eigen::DenseFunctor<double>(ncoef, n), x(x_), y(y_), model(model_) {}

    int operator()(const Vector& a, Vector& r) const {
        const auto ncoef = static_cast<std::int32_t>(a.size());
        for (Eigen::Index i = 0; i < r.size(); ++i) r[i] = model(x[i], a.data(), ncoef) - y[i];
        return 0;
    }

    const double* x;
    const double* y;
    fcs::FitModel* model;
};

// Forward differences, stopping the fit (at the last accepted coefficients)
// when the Jacobian is not finite, where no step could be trusted.
struct ForwardJacobian : Eigen::NumericalDiff<Residuals, Eigen::Forward> {
    explicit ForwardJacobian(const Residuals& residuals) : Eigen::NumericalDiff<Residuals, Eigen::Forward>(residuals) {}

    int df(const Vector& a, JacobianType& jacobian) const {
        const int evaluations = Eigen::NumericalDiff<Residuals, Eigen::Forward>::df(a, jacobian);
        return jacobian.allFinite() ? evaluations : -1;
    }
};

bool all_finite(const double* v, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// Runs the fit and writes its results; everything that can fail comes before
// the first write.
std::int32_t fit(const double* x, const double* y, double* fitted, std::int32_t n, std::int32_t max_iter,
                 fcs::FitModel* model, double* a, std::int32_t ncoef, double* mse) {
    if (!x || !y || !fitted || !model || !a || !mse || ncoef < 1 || n < ncoef) return fcs::kFitBadArguments;
    if (!all_finite(x, n) || !all_finite(y, n) || !all_finite(a, ncoef)) return fcs::kFitNotFinite;

    Residuals residuals(x, y, n, ncoef, model);
    Vector coefficients = Eigen::Map<const Vector>(a, ncoef);
    {
        Vector start(n);
        residuals(coefficients, start);
        if (!start.allFinite()) return fcs::kFitNotFinite;
    }

    ForwardJacobian jacobian(residuals);
    Eigen::LevenbergMarquardt<ForwardJacobian> lm(jacobian);
    if (max_iter > 0 && lm.minimizeInit(coefficients) == Eigen::LevenbergMarquardtSpace::NotStarted) {
        // Each iteration may try several steps; this bounds their evaluations
        // where the step bound cannot shrink (all coefficients zero).
        const Eigen::Index budget = ncoef + 1 + 200;
        for (std::int32_t iteration = 0; iteration < max_iter; ++iteration) {
            lm.setMaxfev(lm.nfev() + budget);
            if (lm.minimizeOneStep(coefficients) != Eigen::LevenbergMarquardtSpace::Running) break;
        }
    }

    // The iterations keep only steps that lowered a finite error, so the
    // coefficients are still those of a finite curve.
    for (std::int32_t j = 0; j < ncoef; ++j) a[j] = coefficients[j];
    double sum = 0.0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double value = model(x[i], a, ncoef);
        const double residual = y[i] - value;  // y is read before fitted is written: they may share storage
        sum += residual * residual;
        fitted[i] = value;
    }
    *mse = sum / static_cast<double>(n);
    return fcs::kFitDone;
}

}  // namespace

std::int32_t AALFunc131(const double* x, const double* y, double* fitted, std::int32_t n, std::int32_t max_iter,
                        fcs::FitModel* model, double* a, std::int32_t ncoef, double* mse) noexcept {
    try {
        return fit(x, y, fitted, n, max_iter, model, a, ncoef, mse);
    } catch (...) {  // Eigen's storage: std::bad_alloc, thrown before any write
        return fcs::kFitNoMemory;
    }
}

static_assert(std::is_same_v<decltype(AALFunc131), fcs::FitServiceFn>);
