// The exit code of a wrong command line, the same in every program around the
// update tool: EX_USAGE of the BSD sysexits, so no program's own codes (0, 1,
// 2, ...) ever mean it.
#pragma once

namespace vtx::cli {

constexpr int EXIT_USAGE = 64;

}  // namespace vtx::cli
