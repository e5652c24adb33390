#pragma once

// Finding and working the console window's own controls in GUI tests, the way
// an operator does: by the widgets' object names, with clicks.
#include "window/console_window.h"
#include "widgets/message_box.h"
#include "support/pty_peer.h"

#include <QByteArray>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>

namespace mc::test {

// Makes a temporary directory the working directory while it lives: the
// console writes its address book and saved EDIDs there.
class TemporaryWorkingDirectory {
public:
    TemporaryWorkingDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TemporaryWorkingDirectory() { QDir::setCurrent(previous_); }
    TemporaryWorkingDirectory(const TemporaryWorkingDirectory&) = delete;
    TemporaryWorkingDirectory& operator=(const TemporaryWorkingDirectory&) = delete;

    [[nodiscard]] bool isValid() const { return dir_.isValid() && QDir::currentPath() == QDir(dir_.path()).path(); }
    [[nodiscard]] QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

// What every test of a whole console sets up: a working directory and a port
// directory of its own (exported as MATRIX_CONSOLE_PORTS), and messages
// caught into a list instead of shown in a modal box. Destroy the console
// windows and far ends first.
class ConsoleTestEnvironment {
public:
    explicit ConsoleTestEnvironment(QStringList& messages) : messages_(messages) {
        ports_.exportToEnvironment();
        messages_.clear();
        mc::setMessagePresenter([this](QWidget*, const QString& text) { messages_ << text; });
    }
    ~ConsoleTestEnvironment() { mc::setMessagePresenter({}); }
    ConsoleTestEnvironment(const ConsoleTestEnvironment&) = delete;
    ConsoleTestEnvironment& operator=(const ConsoleTestEnvironment&) = delete;

    [[nodiscard]] bool isValid() const { return work_.isValid() && !ports_.path().empty(); }
    [[nodiscard]] const PortDirectory& ports() const { return ports_; }
    [[nodiscard]] QString filePath(const QString& name) const { return work_.filePath(name); }

private:
    QStringList& messages_;
    TemporaryWorkingDirectory work_;
    PortDirectory ports_;
};

// Tab indexes of the console's pages.
enum ConsoleTab { FirstRoutingTab = 0, SecondRoutingTab = 1, EdidTab = 2, IpSettingsTab = 3, AudioTab = 4 };

inline QPushButton* portButton(const ConsoleWindow& w) {
    return w.findChild<QPushButton*>(QStringLiteral("portButton"));
}
inline QPushButton* searchButton(const ConsoleWindow& w) {
    return w.findChild<QPushButton*>(QStringLiteral("searchButton"));
}
inline QComboBox* comSelector(const ConsoleWindow& w) {
    return w.findChild<QComboBox*>(QStringLiteral("comSelector"));
}
inline QString statusText(const ConsoleWindow& w) {
    return w.findChild<QLabel*>(QStringLiteral("statusLine"))->text();
}
// "Port open" or "Port closed": what the port icon tells assistive technology.
inline QString portIconState(const ConsoleWindow& w) {
    return w.findChild<QLabel*>(QStringLiteral("portIcon"))->accessibleDescription();
}
inline void showTab(const ConsoleWindow& w, ConsoleTab tab) {
    w.findChild<QTabWidget*>(QStringLiteral("pageTabs"))->setCurrentIndex(tab);
}

// Clicks a widget in the middle, as the mouse does.
inline void click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

// A console window shown on screen; nullptr if it never got exposed.
inline std::unique_ptr<ConsoleWindow> showConsole() {
    auto window = std::make_unique<ConsoleWindow>();
    window->show();
    return QTest::qWaitForWindowExposed(window.get()) ? std::move(window) : nullptr;
}

// A shown console whose port button has opened COM1; nullptr if it did not open.
inline std::unique_ptr<ConsoleWindow> showConsoleWithPortOpen() {
    auto window = showConsole();
    if (window) {
        click(portButton(*window));
    }
    return window && window->state().portOpen ? std::move(window) : nullptr;
}

// Bytes as text that shows every control character, for readable failures.
inline QByteArray visible(const std::string& bytes) {
    QByteArray out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7f) {
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out;
}

// Bytes written as spaced hexadecimal pairs ("0D 0A 53"), as a byte string.
inline std::string fromHex(const char* spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")).toStdString();
}

// What the far end receives within `timeout`: `count` bytes or fewer, then
// everything else that follows within a short quiet spell, so that extra
// bytes show up in the comparison instead of leaking into the next one.
inline std::string receive(const PtyPeer& peer, std::size_t count,
                           std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    using namespace std::chrono_literals;
    std::string got = peer.read(count, timeout);
    got += peer.readAll(50ms, 200ms);
    return got;
}

} // namespace mc::test
