// The summary of an acquisition: what was read, how the libraries were set
// up, both fits (and the truth of a simulated sample), where the outputs are
// and where the time went. Lines of "name: value", indented under a heading.
#pragma once

#include "acquisition.h"
#include "cross_check.h"
#include "figure.h"
#include "physical_fit.h"
#include "plan.h"
#include "simulator.h"

#include <optional>
#include <string>
#include <vector>

namespace fcs::host {

struct Report {
    std::string input;
    FileScan scan;
    Plan plan;
    const Acquisition* acquisition = nullptr;
    DiffusionFit fit;
    JackknifeErrors jackknife;
    DiffusionFitSettings fit_settings;
    std::optional<Sample> truth;
    std::optional<CrossCheck> cross;
    std::optional<Figure> figure;
    std::string folder;
    std::vector<std::string> outputs;
    double fit_seconds = 0.0;
    double write_seconds = 0.0;
    double figure_seconds = 0.0;
};

std::string summary_text(const Report& report);

}  // namespace fcs::host
