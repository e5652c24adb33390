#include "link/link_address.h"
#include "session/log_hook.h"
#include "version.h"
#include "window/console_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <optional>

int main(int argc, char* argv[]) {
    // --version is answered before Qt starts, so it needs no display.
    // --connect HOST:PORT opens a network link at start. Every other argument
    // is left to Qt and changes nothing in the console.
    std::optional<mc::TcpLinkAddress> connectTo;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("matrix-console %s\n", mc::kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--connect") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "matrix-console: --connect needs HOST:PORT\n");
                return 2;
            }
            const mc::LinkAddressResult parsed = mc::parseLinkAddress(argv[++i]);
            if (const auto* error = std::get_if<mc::LinkAddressError>(&parsed)) {
                std::fprintf(stderr, "matrix-console: --connect: %s\n", error->message.c_str());
                return 2;
            }
            const auto* tcp = std::get_if<mc::TcpLinkAddress>(&std::get<mc::LinkAddress>(parsed));
            if (tcp == nullptr) {
                std::fprintf(stderr, "matrix-console: --connect takes HOST:PORT, not a serial port (%s)\n", argv[i]);
                return 2;
            }
            connectTo = *tcp;
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
    mc::ConsoleWindow window;
    if (connectTo) {
        // Once the window runs, so a failed connect has a window for its message.
        QTimer::singleShot(0, &window, [&window, &connectTo] { window.connectOverNetwork(*connectTo); });
    }
    // The console is one modal dialog; closing it ends the program.
    window.exec();
    mc::setLogSink({});
    return 0;
}
