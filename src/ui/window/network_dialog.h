#pragma once

#include "link/link_address.h"

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;
class QSpinBox;

namespace mc {

// Asks for the host and TCP port of a switcher on the network. Starts at the
// host and port last used (remembered per user) unless the IP Setting page
// shows a TCP port, which then takes the port's place.
class NetworkDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetworkDialog(const std::string& ipPageTcpPort, QWidget* parent = nullptr);

    // The address entered; set once the dialog was accepted.
    [[nodiscard]] const std::optional<TcpLinkAddress>& address() const { return address_; }

    // The per-user settings where the last host and port are kept.
    [[nodiscard]] static std::optional<TcpLinkAddress> lastUsed();
    static void remember(const TcpLinkAddress& address);

    void accept() override;

private:
    QLineEdit* hostEdit_ = nullptr;
    QSpinBox* portEdit_ = nullptr;
    QLabel* problem_ = nullptr;
    std::optional<TcpLinkAddress> address_;
};

} // namespace mc
