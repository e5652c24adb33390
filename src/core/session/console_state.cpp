#include "session/console_state.h"

namespace mc {

std::string comPortItemText(int comPort) {
    return "COM" + std::to_string(comPort);
}

} // namespace mc
