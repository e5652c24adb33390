#include "link/link_address.h"
#include "session/log_hook.h"
#include "session/traffic_file.h"
#include "version.h"
#include "window/console_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr int kExitUsage = 2;
constexpr std::string_view kLogOption = "--log";

} // namespace

int main(int argc, char* argv[]) {
    // --version and --log are answered before Qt starts, so they need no
    // display. --connect HOST:PORT opens a network link at start. Every other
    // argument is left to Qt and changes nothing in the console.
    std::string logPath;
    bool logRequested = false;
    std::optional<mc::TcpLinkAddress> connectTo;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("matrix-console %s\n", mc::kVersion);
            return 0;
        }
        if (arg == kLogOption) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "matrix-console: --log needs a file name\n");
                return kExitUsage;
            }
            logPath = argv[++i];
            logRequested = true;
        } else if (arg.substr(0, kLogOption.size() + 1) == "--log=") {
            logPath = std::string(arg.substr(kLogOption.size() + 1));
            logRequested = true;
        } else if (arg == "--connect") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "matrix-console: --connect needs HOST:PORT\n");
                return kExitUsage;
            }
            const mc::LinkAddressResult parsed = mc::parseLinkAddress(argv[++i]);
            if (const auto* error = std::get_if<mc::LinkAddressError>(&parsed)) {
                std::fprintf(stderr, "matrix-console: --connect: %s\n", error->message.c_str());
                return kExitUsage;
            }
            const auto* tcp = std::get_if<mc::TcpLinkAddress>(&std::get<mc::LinkAddress>(parsed));
            if (tcp == nullptr) {
                std::fprintf(stderr, "matrix-console: --connect takes HOST:PORT, not a serial port (%s)\n", argv[i]);
                return kExitUsage;
            }
            connectTo = *tcp;
        }
    }
    std::unique_ptr<mc::TrafficFile> trafficFile;
    if (logRequested) {
        std::string error;
        trafficFile = logPath.empty() ? nullptr : mc::TrafficFile::open(logPath, error);
        if (!trafficFile) {
            std::fprintf(stderr, "matrix-console: cannot open the log file \"%s\": %s\n", logPath.c_str(),
                         logPath.empty() ? "empty file name" : error.c_str());
            return kExitUsage;
        }
    }

    QApplication app(argc, argv);
    // Port failures with their reasons, for whoever debugs a line; the
    // operator still sees only the console's own messages.
    mc::setLogSink([](mc::LogLevel level, std::string_view source, std::string_view text) {
        if (level >= mc::LogLevel::Warning) {
            std::fprintf(stderr, "matrix-console: %s: %.*s: %.*s\n", mc::logLevelName(level),
                         static_cast<int>(source.size()), source.data(), static_cast<int>(text.size()), text.data());
        }
    });
    {
        mc::ConsoleWindow window;
        if (trafficFile) {
            // Every row from the first, whether or not a monitor is open.
            window.trafficLog().setRowListener([&trafficFile](const mc::TrafficRow& row) { trafficFile->write(row); });
            window.setTrafficRecording(true);
        }
        if (connectTo) {
            // Once the window runs, so a failed connect has a window for its message.
            QTimer::singleShot(0, &window, [&window, &connectTo] { window.connectOverNetwork(*connectTo); });
        }
        // The console is one modal dialog; closing it ends the program.
        window.exec();
    }
    trafficFile.reset(); // writes what is queued
    mc::setLogSink({});
    return 0;
}
