#include "window/console_window.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    mc::ConsoleWindow window;
    // The console is one modal dialog; closing it ends the program.
    window.exec();
    return 0;
}
