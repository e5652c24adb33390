#include "atomic_file.h"

#include "edid/edid_file.h"

namespace mc::ctl {

bool isFreeOrRegular(std::filesystem::file_type type) {
    return type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::regular;
}

bool isFreeOrRegular(const std::string& path, std::string& error) {
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(path, ec).type();
    if (isFreeOrRegular(type)) {
        return true;
    }
    error = path + " became " + fileTypeText(type) + " meanwhile; kept it (--force replaces only a regular file)";
    return false;
}

} // namespace mc::ctl
