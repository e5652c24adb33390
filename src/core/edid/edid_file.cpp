#include "edid/edid_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace mc {

EdidImage edidImageFromBytes(std::span<const std::uint8_t> bytes) {
    EdidImage image;
    image.fill(kEdidFillByte);
    std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
    return image;
}

std::optional<EdidImage> readEdidFile(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    EdidImage image;
    image.fill(kEdidFillByte);
    // A short read at the end of the file is fine; a read error (a directory,
    // an I/O failure) makes the file unreadable.
    std::fread(image.data(), 1, image.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    return image;
}

} // namespace mc
