#pragma once

#include <optional>

namespace tarnveil {

// The program's answers without a window or a display: `tarnveil --help` and
// `tarnveil report silence|loudness ...`. Returns the process's exit status
// when the arguments ask for one of them, nothing when the console should open.
std::optional<int> runCommandLine(int argc, char** argv);

} // namespace tarnveil
