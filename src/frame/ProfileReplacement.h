// A private-profile file replaced whole. Its keys are written through the private-profile calls into a
// temporary file beside it, which one MoveFileExW then puts in its place: a reader, or the next call
// after a process killed midway, finds the old file or the new one, never none and never part of one.
#pragma once

#include <cstdint>
#include <string>

namespace kvph {

class ProfileReplacement {
public:
    // Starts from an empty temporary file: one that a killed call left behind is deleted first.
    explicit ProfileReplacement(std::wstring path);
    // Deletes the temporary file unless it was committed.
    ~ProfileReplacement();
    ProfileReplacement(const ProfileReplacement&) = delete;
    ProfileReplacement& operator=(const ProfileReplacement&) = delete;

    bool write(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // Moves the temporary file over the file and gives it `attributes`. The old file's attributes are
    // set to normal first, as a read-only file would refuse to be replaced; when the move fails, the old
    // file keeps its content, is given `attributes` again, and the result is false.
    bool commit(std::uint32_t attributes);

private:
    std::wstring path_;
    std::wstring temporaryPath_;
    bool committed_ = false;
};

// The temporary file a replacement of `path` writes.
std::wstring replacementPath(const std::wstring& path);

}  // namespace kvph
