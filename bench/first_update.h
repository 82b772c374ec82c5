// The update in a fresh process: the benchmark program starts itself again
// with this flag for one replayed update and reads back the tool's CPU time.
#pragma once

namespace vtx::bench {

constexpr const char* FIRST_UPDATE_FLAG = "--vtx-first-update";

// argv: program, flag, the directory of the update's files and recording.
// Prints the tool's CPU seconds; exit 0, or 1 when the update did not replay.
int first_update_child(int argc, char** argv);

}  // namespace vtx::bench
