// Renders the console window into PNG files without a display: one picture of
// the window as it starts, and with --pages one per tab page. Used by
// scripts/screenshots for the documentation.
#include "app/console_window.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <cstdio>

namespace {

constexpr const char* kPageFiles[] = {"page-routing-1.png", "page-routing-2.png", "page-edid.png",
                                      "page-ip-settings.png", "page-audio.png"};

bool save(QWidget& window, const QString& path) {
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: matrix-console-snapshot OUT_DIR [--pages]\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    mc::ConsoleWindow window;
    window.show();
    QApplication::processEvents();
    bool ok = save(window, out.filePath(QStringLiteral("console.png")));
    if (args.contains(QStringLiteral("--pages"))) {
        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("pageTabs"));
        for (int i = 0; i < tabs->count() && i < int(std::size(kPageFiles)); ++i) {
            tabs->setCurrentIndex(i);
            QApplication::processEvents();
            ok = save(window, out.filePath(QString::fromLatin1(kPageFiles[i]))) && ok;
        }
    }
    return ok ? 0 : 1;
}
