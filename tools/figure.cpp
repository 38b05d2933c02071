#include "figure.h"

#include "library_set.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace fcs::host {

namespace {

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kScript[] = "fcs-plot.py";
constexpr int kNoMatplotlib = 3;  // the script's exit status when matplotlib cannot be imported

}  // namespace

Figure draw_figure(const std::string& folder) {
    Figure figure;
    const std::string script = program_folder() + "/" + kScript;
    if (access(kPython, X_OK) != 0) {
        figure.problem = std::string(kPython) + " is missing (install Debian's python3 and python3-matplotlib)";
        return figure;
    }
    if (access(script.c_str(), R_OK) != 0) {
        figure.problem = "the plotting script " + script + " is missing";
        return figure;
    }
    std::string python = kPython, folder_arg = folder, script_arg = script;
    char* argv[] = {python.data(), script_arg.data(), folder_arg.data(), nullptr};
    pid_t pid = 0;
    if (const int error = posix_spawn(&pid, kPython, nullptr, nullptr, argv, environ); error != 0) {
        figure.problem = std::string("cannot start ") + kPython + ": " + std::strerror(error);
        return figure;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        figure.drawn = true;
        figure.path = folder + "/figure.png";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kNoMatplotlib) {
        figure.problem = std::string("matplotlib is not installed for ") + kPython +
                         " (Debian package python3-matplotlib; make demo installs it)";
    } else {
        figure.problem = "the plotting script failed (" +
                         (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                            : std::string("killed by a signal")) +
                         ")";
    }
    return figure;
}

}  // namespace fcs::host
