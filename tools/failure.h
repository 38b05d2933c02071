// Errors of the program: a message for the user and a non-zero exit.
#pragma once

#include <stdexcept>
#include <string>

namespace fcs::host {

// A problem with the input, the options or the environment. The message names
// it in words meant for the user; main prints it and exits with status 1.
struct Failure : std::runtime_error {
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace fcs::host
