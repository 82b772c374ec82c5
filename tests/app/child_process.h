// Runs a program as a child with standard output and standard error of its
// own, for the tests that drive the real vtx_fwupdate.
#pragma once

#include <string>
#include <vector>

namespace vtx::test {

struct ChildResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// `program` is a path the platform's process start understands; argument 0
// is the program path itself. Both streams go to files in `work_dir`.
ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& work_dir);

// The path of the built vtx_fwupdate, in the form this platform opens.
std::string fwupdate_program_path();

}  // namespace vtx::test
