// The main of the benchmarks that drive real widgets: the offscreen platform
// unless another is asked for, message boxes written to standard error (a
// failure must not wait for a click on a box nobody sees), then the
// benchmarks; `beforeExit` runs while the application still stands.
#pragma once

#include "widgets/message_box.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <functional>

namespace mc::bench {

inline int runWidgetBenchmarks(int argc, char** argv, const std::function<void()>& beforeExit = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QApplication app(argc, argv);
    setMessagePresenter([](QWidget*, const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (beforeExit) {
        beforeExit();
    }
    return 0;
}

} // namespace mc::bench
