#pragma once

#include "link/link_address.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace mc {

// Exit status for a command line the console cannot take.
inline constexpr int kExitUsage = 2;

// What the console's command line asks for. Parsed before Qt starts (so
// --help, --version and a refusal need no display); Qt's own options
// (-platform, -style, ...) are let through for QApplication.
struct ConsoleCommandLine {
    // When set, the program prints `output` and ends with this status
    // without opening a window: 0 for --help and --version (on standard
    // output), kExitUsage for a refusal (on standard error, the reason and
    // then the usage).
    std::optional<int> exitStatus;
    QString output;
    std::optional<std::string> logPath;      // --log FILE
    std::optional<TcpLinkAddress> connectTo; // --connect HOST:PORT
};

// arguments: the program name first, as QCoreApplication::arguments() gives.
[[nodiscard]] ConsoleCommandLine parseConsoleCommandLine(const QStringList& arguments);

} // namespace mc
