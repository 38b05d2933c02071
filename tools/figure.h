// The figure of an acquisition, drawn by the plotting script beside the
// program (matplotlib under /usr/bin/python3) from the CSV files.
#pragma once

#include <string>

namespace fcs::host {

struct Figure {
    bool drawn = false;
    std::string path;     // the PNG, when drawn
    std::string problem;  // why not, otherwise
};

// Runs the script on the output folder; reports, never throws, when Python,
// matplotlib or the script is missing or the script fails.
Figure draw_figure(const std::string& folder);

}  // namespace fcs::host
