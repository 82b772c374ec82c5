// How each layer hands its arguments on to the elevated instance of the
// tool. Pure functions, so the argument handling is tested without starting
// anything.
#pragma once

#include <string>
#include <vector>

namespace vtx {

// Linux (linux_process.cpp): the argument vector that starts `self` again
// with this process's arguments 1 to argc-1, through sudo when standard input
// is a terminal (it can ask for the password there), else through pkexec.
std::vector<std::string> linux_relaunch_argv(bool terminal, const std::string& self, int argc,
                                             char** argv);

// Windows (win32_process.cpp): the parameters for the elevated instance, the
// command line as the process received it without the program name, which is
// skipped as the C runtime does when it splits argument 0: a quoted name runs
// to the next quote, an unquoted one to the first blank or tab; the blanks
// after it go too.
std::string win32_relaunch_parameters(const char* command_line);

}  // namespace vtx
