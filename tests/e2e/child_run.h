// Runs a program as a child with standard streams of its own: output and
// error into files, input from the null device, so a key wait ends at once.
#pragma once

#include <string>
#include <vector>

namespace vtx::test::e2e {

struct ChildRun {
    int code = -1;
    std::string out;
    std::string err;
};

// `program` is in the form this platform starts (a Windows path under Wine);
// argument 0 is the program path itself. Windows line ends are made plain.
ChildRun run_child(const std::string& program, const std::vector<std::string>& args,
                   const std::string& work_dir);

// The built vtx_fwupdate_sim, and the directory it reports as its own (where
// its sample set and config.ini lie), with this platform's separator.
std::string sim_program_path();
std::string sim_program_dir();
char native_separator();

}  // namespace vtx::test::e2e
