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
    mc::ConsoleWindow window;
    // The console is one modal dialog; closing it ends the program.
    window.exec();
    return 0;
}
