// A file written as it goes (a trace) under the same rule as replace_file: the
// lines go to a new file beside the target, each handed to the system as it
// comes, so a program that dies leaves them there; finish() flushes the new
// file to the disk and renames it over the target, which until then is the
// old file whole.
#pragma once

#include <cstdint>
#include <string>

namespace vtx::outfile {

class GrowingFile {
  public:
    GrowingFile() = default;
    ~GrowingFile();  // an unfinished new file stays, for whoever looks after a crash
    GrowingFile(const GrowingFile&) = delete;
    GrowingFile& operator=(const GrowingFile&) = delete;

    // Creates the new file beside `path`. An existing `path` that is not a
    // regular file is refused; a link there is replaced by the file, not
    // followed. False with a short reason in `error`.
    bool open(const std::string& path, std::string& error);
    // Appends; a failure is kept and reported by finish().
    void append(const std::string& text);
    // Flushes and renames over the target. False with a reason; the new file
    // is removed then and the target is untouched.
    bool finish(std::string& error);
    // The new file's name while it is being written.
    const std::string& partial_path() const { return temporary_; }

  private:
    std::string target_;
    std::string temporary_;
    std::intptr_t file_ = -1;
    bool failed_ = false;
    int failure_ = 0;
};

}  // namespace vtx::outfile
