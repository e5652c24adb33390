#pragma once

#include "session/reply_views.h"

#include <QWidget>
#include <cstdint>
#include <string>
#include <string_view>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace mc {

class CommandSender;
class IpAddressEdit;

// The IP settings page: DHCP, addresses, TCP port and, once unlocked, the MAC
// address, all sent at once by "Save Setting". The reply parser writes what
// the switcher reports through the IpSettingsView calls below. The MAC address,
// once unlocked, stays unlocked for the rest of the run (the page lives as
// long as the console).
class IpSettingsPage : public QWidget, public IpSettingsView {
    Q_OBJECT
public:
    explicit IpSettingsPage(CommandSender& sender, QWidget* parent = nullptr);

    // Stores the MAC text (up to its first line break); shown at redraw.
    void setMacText(std::string_view text) override;
    // Stores the TCP port text (at most four characters); shown at redraw.
    void setTcpPortText(std::string_view text) override;
    // Set the address controls directly; the first octet is the most
    // significant byte.
    void showHostAddress(std::uint32_t address) override;
    void showNetMask(std::uint32_t address) override;
    void showRouterAddress(std::uint32_t address) override;
    // Sets the DHCP flag and enables the address controls when it is off.
    void setDhcp(bool on) override;
    void redrawIpSettings() override { refresh(); }
    // Redraws from the stored state: the DHCP box, the TCP port text and the
    // MAC text.
    void refresh();

    [[nodiscard]] bool dhcp() const { return dhcp_; }
    [[nodiscard]] const std::string& tcpPortText() const { return tcpPortText_; }
    // The TCP port as the edit shows it now, edited or not.
    [[nodiscard]] std::string shownTcpPort() const;
    [[nodiscard]] const std::string& macText() const { return macText_; }
    // The hidden word typed as the TCP port has unlocked the MAC address.
    [[nodiscard]] bool macUnlocked() const { return macUnlocked_; }

protected:
    // Swallows Enter so that the console window neither closes nor clicks a
    // default button from this page.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void readControls();
    void enableAddressControls(bool enabled);
    void onDhcpClicked();
    void onSave();

    CommandSender& sender_;
    bool macUnlocked_ = false;
    bool dhcp_ = false;
    std::string tcpPortText_;
    std::string macText_;

    QCheckBox* dhcpBox_ = nullptr;
    IpAddressEdit* hostAddress_ = nullptr;
    IpAddressEdit* netMask_ = nullptr;
    IpAddressEdit* routerAddress_ = nullptr;
    QLineEdit* macEdit_ = nullptr;
    QLineEdit* tcpPortEdit_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

} // namespace mc
