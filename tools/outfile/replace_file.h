// Files the programs around the update tool write (vtx_bridge pack-params,
// every vtx_imagemaker output, the simulator's state file): an existing file
// is either the old one whole or the new one whole, and an output is never
// one of the program's own inputs. The update tool itself writes no file, so
// this small library with its OS calls stays out of it.
#pragma once

#include <cstddef>
#include <string>

namespace vtx::outfile {

// Whether both paths name one existing file, links resolved: device and inode
// on POSIX, volume serial number and file index on Windows. False when either
// cannot be found.
bool same_file(const std::string& a, const std::string& b);

// Writes `size` bytes to a new file in the directory of `path`, flushes it to
// the disk and renames it over `path`. On POSIX a symbolic link at `path` is
// followed, so the file it names is replaced and the link stays (on Windows
// the move replaces the link itself). An existing `path` that is not a
// regular file is refused. False with a short reason in `error`; the
// new file is removed then and `path` is untouched.
bool replace_file(const std::string& path, const void* data, std::size_t size, std::string& error);

// replace_file, refused first when `path` is the same file as `input`:
// false with "it is the same file as the input <input>" in `error`.
bool replace_file_apart_from(const std::string& path, const std::string& input, const void* data,
                             std::size_t size, std::string& error);

}  // namespace vtx::outfile
