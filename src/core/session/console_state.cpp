#include "session/console_state.h"

namespace mc {

void ConsoleState::endReadBack() {
    edidToFile = false;
    edidFileName.clear();
}

std::string comPortItemText(int comPort) {
    return "COM" + std::to_string(comPort);
}

} // namespace mc
