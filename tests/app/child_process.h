// Runs a program as a child with standard streams of its own: output and
// error into files, input from the null device, so a key wait ends at once.
#pragma once

#include <string>
#include <vector>

namespace vtx::test {

struct ChildResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// `program` is in the form child_program_path gives; argument 0 is the
// program path itself. Both streams go to files in `work_dir`; Windows line
// ends are made plain.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& work_dir);

// A program the build made, at the path the build gives, in the form this
// platform starts it and the program itself reports: resolved on Linux, as
// /proc/self/exe shows it; under Wine a Windows path on drive Z:, the host's
// root.
std::string child_program_path(const std::string& built);

}  // namespace vtx::test
