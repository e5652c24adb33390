#pragma once

#include "app/console_state.h"
#include "link/text_command.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;

namespace mc {

class AudioPage;
class EdidPage;
class IpSettingsPage;
class RoutingPage;

// The console's single window: the COM port controls on the left, the five
// pages in a tab widget on the right. It owns the shared state and is the
// sender every page hands its commands to.
class ConsoleWindow : public QDialog, public CommandSender {
    Q_OBJECT
public:
    explicit ConsoleWindow(QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    bool send(const TextCommand& command) override;

    [[nodiscard]] ConsoleState& state() { return state_; }
    [[nodiscard]] const ConsoleState& state() const { return state_; }

    [[nodiscard]] RoutingPage* routingPage(int bank) const { return bank == 0 ? routing1_ : routing2_; }
    [[nodiscard]] EdidPage* edidPage() const { return edidPage_; }
    [[nodiscard]] IpSettingsPage* ipSettingsPage() const { return ipSettingsPage_; }
    [[nodiscard]] AudioPage* audioPage() const { return audioPage_; }

public slots:
    void showAboutBox();

private:
    void buildPortControls();
    void buildPages();
    void buildAboutAction();
    void showPortIcon(bool open);

    ConsoleState state_;

    QPushButton* portButton_ = nullptr;
    QLabel* portIcon_ = nullptr;
    QComboBox* comSelector_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QTabWidget* tabs_ = nullptr;

    RoutingPage* routing1_ = nullptr;
    RoutingPage* routing2_ = nullptr;
    EdidPage* edidPage_ = nullptr;
    IpSettingsPage* ipSettingsPage_ = nullptr;
    AudioPage* audioPage_ = nullptr;
};

} // namespace mc
