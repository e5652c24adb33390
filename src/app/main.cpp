#include "session/log_hook.h"
#include "session/traffic_file.h"
#include "window/command_line.h"
#include "window/console_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

int main(int argc, char* argv[]) {
    // Parsed before Qt starts, so --help, --version and a refusal need no
    // display; Qt's own options are left to QApplication.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const mc::ConsoleCommandLine commandLine = mc::parseConsoleCommandLine(arguments);
    if (commandLine.exitStatus) {
        const QByteArray text = commandLine.output.toLocal8Bit();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()),
                    *commandLine.exitStatus == 0 ? stdout : stderr);
        return *commandLine.exitStatus;
    }
    std::unique_ptr<mc::TrafficFile> trafficFile;
    if (commandLine.logPath) {
        std::string error;
        trafficFile = mc::TrafficFile::open(*commandLine.logPath, error);
        if (!trafficFile) {
            std::fprintf(stderr, "matrix-console: cannot open the log file \"%s\": %s\n", commandLine.logPath->c_str(),
                         error.c_str());
            return mc::kExitUsage;
        }
    }
    const std::optional<mc::TcpLinkAddress> connectTo = commandLine.connectTo;

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
