// Host-side helpers for testing a library's fits: the stand-in services'
// files, copies of libraries in folders of their own, the stand-in's
// recorder, and fresh processes for the lookups that must not see what this
// process has loaded.
#pragma once

#include "host.h"
#include "recording_fit_service.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fcs::test {

// Built files of the recording stand-in and of the decoy (named like the
// service, without its export). Place them under fcs::kFitServiceFile.
std::string recording_fit_service_path();
std::string decoy_fit_service_path();

// The real fit service, beside the built libraries.
std::string fit_service_path();

// Copies file `from` (following a symbolic link) into `folder` as `name`,
// replacing a file of that name; returns the copy's path.
std::string place_copy(const std::string& folder, const std::string& from, std::string_view name);

// The recorder of the recording stand-in loaded from `path`, or nullptr when
// that file is not loaded in this process. Valid while it stays loaded.
FitRecorder* loaded_recorder(const std::string& path);

// Whether any object named like the fit service is loaded in this process.
bool fit_service_loaded();

// Runs the running test again in a new process (this program, filtered to
// this test) with extra environment variables, and waits for it. True when
// the rerun reached the test (in_fresh_process) and passed.
bool rerun_in_fresh_process(const std::vector<std::pair<std::string, std::string>>& environment = {});

// True inside such a rerun; the test then does its work there.
bool in_fresh_process();

}  // namespace fcs::test
