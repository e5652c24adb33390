#include "sim/display_edids.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace mc::sim {

const EdidImage& displayEdid(std::string_view name) {
    const auto all = displayEdids();
    const auto found = std::find_if(all.begin(), all.end(), [name](const DisplayEdid& d) { return d.name == name; });
    if (found == all.end()) {
        throw std::out_of_range("no embedded display EDID " + std::string(name));
    }
    return found->image;
}

} // namespace mc::sim
