#include "session/log_hook.h"
#include "version.h"
#include "window/console_window.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    // --version is answered before Qt starts, so it needs no display. Every
    // other argument is left to Qt and changes nothing in the console.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("matrix-console %s\n", mc::kVersion);
            return 0;
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
    // The console is one modal dialog; closing it ends the program.
    window.exec();
    mc::setLogSink({});
    return 0;
}
