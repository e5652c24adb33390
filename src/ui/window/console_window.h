#pragma once

#include "link/text_command.h"
#include "session/address_book.h"
#include "session/connection.h"
#include "session/console_state.h"
#include "session/edid_capture.h"
#include "session/reply_views.h"
#include "session/session.h"
#include "session/traffic_log.h"

#include <QDialog>
#include <cstdint>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;

namespace mc {

class AudioPage;
class ByteHandover;
class EdidPage;
class IpSettingsPage;
class RoutingPage;
class TrafficMonitor;

// The console's single window: the COM port controls on the left, the five
// pages in a tab widget on the right. It builds the widgets and wires them to
// the core session, which owns the state, the link and reply dispatch: the
// hand-over brings received bytes to the session on this window's thread,
// the session shows the replies on the pages through their views, and the
// pages send their commands through the session. The window itself shows
// only the port controls and the status line.
class ConsoleWindow : public QDialog, private ConnectionView {
    Q_OBJECT
public:
    explicit ConsoleWindow(QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    [[nodiscard]] Session& session() { return *session_; }
    [[nodiscard]] ConsoleState& state() { return session_->state(); }
    [[nodiscard]] const ConsoleState& state() const { return session_->state(); }
    [[nodiscard]] LinkChannel& channel() { return session_->channel(); }
    [[nodiscard]] Connection& connection() { return session_->connection(); }
    [[nodiscard]] const AddressBook& addressBook() const { return addressBook_; }

    [[nodiscard]] RoutingPage* routingPage(int bank) const { return bank == 0 ? routing1_ : routing2_; }
    [[nodiscard]] EdidPage* edidPage() const { return edidPage_; }
    [[nodiscard]] IpSettingsPage* ipSettingsPage() const { return ipSettingsPage_; }
    [[nodiscard]] AudioPage* audioPage() const { return audioPage_; }

    // Opens a network link to the switcher at `address` (see
    // Connection::connectNetwork); returns at once.
    void connectOverNetwork(const TcpLinkAddress& address);
    // The rows the traffic monitor and --log show; created on first use.
    [[nodiscard]] TrafficLog& trafficLog();
    // Records traffic even while no monitor is open (--log).
    void setTrafficRecording(bool on);
    // nullptr until the monitor is first opened.
    [[nodiscard]] TrafficMonitor* trafficMonitor() const { return trafficMonitor_; }

public slots:
    void showAboutBox();
    void showTrafficMonitor();
    // The "Connect over Network..." dialog, then the connect.
    void showNetworkDialog();

protected:
    // Enter clicks only a focused push button: elsewhere (the tab control at
    // start, a radio) it would click the dialog's default button, the port
    // button, and open a port.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildPortControls();
    void buildPages();
    void buildAboutAction();
    void buildNetworkAction();
    void buildRefreshAction();
    // Feeds the traffic log only while a monitor is shown or --log records.
    void updateTrafficObserver();
    void wirePortControls();
    [[nodiscard]] QTimer* timer(ConsoleTimer which) const;

    // ConnectionView, and the ConsoleView the replies use
    void showPortIcon(bool open) override;
    void setPortButtonText(std::string_view text) override;
    void setStatusText(std::string_view text) override;
    void showMessage(std::string_view text) override;
    void selectComItem(int index) override;
    void startConsoleTimer(ConsoleTimer which, std::chrono::milliseconds period) override;
    void stopConsoleTimer(ConsoleTimer which) override;
    void pauseWindowThread(std::chrono::milliseconds duration) override;
    void showLinkPeer(std::string_view text) override;
    void showNetworkItem(std::string_view peer) override;

    // Declared in this order so that the session, and with it the port
    // worker, ends before the hand-over it delivers to and the files it saves in.
    std::unique_ptr<ByteHandover> handover_;
    DirectoryEdidFiles edidFiles_;
    std::unique_ptr<Session> session_;
    AddressBook addressBook_;
    QTimer* searchTimer_ = nullptr;

    QPushButton* portButton_ = nullptr;
    QLabel* portIcon_ = nullptr;
    QComboBox* comSelector_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* searchButton_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QAction* refreshAction_ = nullptr;

    RoutingPage* routing1_ = nullptr;
    RoutingPage* routing2_ = nullptr;
    EdidPage* edidPage_ = nullptr;
    IpSettingsPage* ipSettingsPage_ = nullptr;
    AudioPage* audioPage_ = nullptr;

    std::unique_ptr<TrafficLog> trafficLog_;
    TrafficMonitor* trafficMonitor_ = nullptr;
    bool trafficRecording_ = false;
};

} // namespace mc
