#include "session/log_hook.h"
#include "window/console_window.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
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
