#pragma once

#include <filesystem>
#include <string_view>

namespace mc {

// How a file the console writes may meet an existing directory entry.
enum class NewFileMode {
    // Only a name that is free; any entry under it, even a dangling link,
    // makes the creation fail.
    CreateNew,
    // A free name, or an existing regular file that is truncated. Never a
    // link (not even to a regular file), a directory, a FIFO or a device.
    CreateOrTruncateRegular,
};

enum class NewFileResult { Written, CannotCreate, WriteFailed };

// Creates the file under mode, never following a link, writes bytes and
// closes it. A file whose write or close failed is removed again, so a cut
// file neither stays behind nor takes up its name.
NewFileResult writeNewFile(const std::filesystem::path& path, std::string_view bytes, NewFileMode mode);

// True when any directory entry, a dangling link included, has the name, or
// when that cannot be told: a name is never taken for free blindly.
bool nameIsTaken(const std::filesystem::path& path);

} // namespace mc
