#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace mc {

class CommandSender;
class IpAddressEdit;

// The IP settings page: DHCP, addresses, TCP port and, once unlocked, the MAC
// address, all sent at once by "Save Setting". The reply parser writes what
// the switcher reports through the setters below.
class IpSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit IpSettingsPage(CommandSender& sender, QWidget* parent = nullptr);

    // Stores the MAC text (up to its first line break); shown at refresh.
    void setMacText(std::string text);
    // Stores the TCP port text (at most four characters); shown at refresh.
    void setTcpPortText(std::string text);
    // Set the address controls directly; the first octet is the most
    // significant byte.
    void showHostAddress(std::uint32_t address);
    void showNetMask(std::uint32_t address);
    void showRouterAddress(std::uint32_t address);
    // Sets the DHCP flag and enables the address controls when it is off.
    void setDhcp(bool on);
    // Members -> controls: the DHCP box, the TCP port text and the MAC text.
    void refresh();

    [[nodiscard]] bool dhcp() const { return dhcp_; }
    [[nodiscard]] const std::string& tcpPortText() const { return tcpPortText_; }
    [[nodiscard]] const std::string& macText() const { return macText_; }

    // Whether the hidden word has unlocked the MAC address in this run.
    [[nodiscard]] static bool macUnlocked();

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
