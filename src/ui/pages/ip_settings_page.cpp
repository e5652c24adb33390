#include "pages/ip_settings_page.h"

#include "link/commands.h"
#include "widgets/dialog_units.h"
#include "widgets/ip_address_edit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace mc {

namespace {

constexpr char kDhcpText[] = "DHCP ";
constexpr char kGroupTitle[] = "ip address setting";
constexpr char kHostLabel[] = "Host IP Address:";
constexpr char kNetMaskLabel[] = "Net Mask:";
constexpr char kRouterLabel[] = "Router IP Address:";
constexpr char kMacLabel[] = "MAC Address(hex):";
constexpr char kTcpPortLabel[] = "TCP Port:";
constexpr char kSaveText[] = "Save Setting";

// Typed into the TCP port field and saved, it unlocks the MAC address (a
// service function of the switcher); nothing is sent for it.
constexpr char kMacUnlockWord[] = "qzvk";

// Layout in dialog units, relative to the page.
constexpr QRect kGroupRect{30, 14, 300, 196};
constexpr QRect kDhcpRect{50, 32, 60, 10};
constexpr int kLabelX = 50;
constexpr int kLabelWidth = 80;
constexpr int kLabelHeight = 8;
constexpr int kFieldX = 135;
constexpr int kFieldHeight = 14;
constexpr int kAddressWidth = 110;
constexpr int kMacWidth = 110;
constexpr int kTcpPortWidth = 40;
constexpr int kHostY = 52;
constexpr int kNetMaskY = 74;
constexpr int kRouterY = 96;
constexpr int kMacY = 118;
constexpr int kTcpPortY = 140;
constexpr QRect kSaveRect{135, 170, 60, 16};

// A line edit holds one line: text from a reply may run into the line end.
std::string firstLine(std::string_view view) {
    std::string text(view);
    text.erase(std::min(text.find_first_of("\r\n"), text.size()));
    return text;
}

} // namespace

IpSettingsPage::IpSettingsPage(CommandSender& sender, QWidget* parent) : QWidget(parent), sender_(sender) {
    setObjectName(QStringLiteral("ipSettingsPage"));
    // The page lays itself out before the tab widget adopts it.
    setFont(dialogFont());
    buildControls();
    refresh();
}

void IpSettingsPage::buildControls() {
    const DialogUnits du(font());
    // Controls are created in reading order, which is their tab order.
    auto* group = new QGroupBox(QString::fromLatin1(kGroupTitle), this);
    group->setObjectName(QStringLiteral("ipAddressGroup"));
    const QRect groupRect = du.rect(kGroupRect.x(), kGroupRect.y(), kGroupRect.width(), kGroupRect.height());
    group->setGeometry(groupRect);
    // Controls live in the group box; their coordinates are the page's.
    const auto place = [&](QWidget* widget, int x, int y, int width, int height) {
        widget->setGeometry(du.rect(x, y, width, height).translated(-groupRect.topLeft()));
    };
    const auto labelFor = [&](const char* text, QWidget* buddy, int y, const char* name) {
        auto* label = new QLabel(QString::fromLatin1(text), group);
        label->setObjectName(QString::fromLatin1(name));
        label->setBuddy(buddy);
        place(label, kLabelX, y + (kFieldHeight - kLabelHeight) / 2, kLabelWidth, kLabelHeight);
    };

    dhcpBox_ = new QCheckBox(QString::fromLatin1(kDhcpText), group);
    dhcpBox_->setObjectName(QStringLiteral("dhcpBox"));
    place(dhcpBox_, kDhcpRect.x(), kDhcpRect.y(), kDhcpRect.width(), kDhcpRect.height());
    connect(dhcpBox_, &QCheckBox::clicked, this, &IpSettingsPage::onDhcpClicked);

    const auto addressEdit = [&](const char* label, int y, const char* name) {
        auto* edit = new IpAddressEdit(QString::fromLatin1(label), group);
        edit->setObjectName(QString::fromLatin1(name));
        place(edit, kFieldX, y, kAddressWidth, kFieldHeight);
        return edit;
    };
    hostAddress_ = addressEdit(kHostLabel, kHostY, "hostAddress");
    labelFor(kHostLabel, hostAddress_, kHostY, "hostAddressLabel");
    netMask_ = addressEdit(kNetMaskLabel, kNetMaskY, "netMask");
    labelFor(kNetMaskLabel, netMask_, kNetMaskY, "netMaskLabel");
    routerAddress_ = addressEdit(kRouterLabel, kRouterY, "routerAddress");
    labelFor(kRouterLabel, routerAddress_, kRouterY, "routerAddressLabel");

    macEdit_ = new QLineEdit(group);
    macEdit_->setObjectName(QStringLiteral("macEdit"));
    macEdit_->setMaxLength(static_cast<int>(kMacTextMaxLength));
    place(macEdit_, kFieldX, kMacY, kMacWidth, kFieldHeight);
    macEdit_->setEnabled(macUnlocked_);
    labelFor(kMacLabel, macEdit_, kMacY, "macLabel");

    tcpPortEdit_ = new QLineEdit(group);
    tcpPortEdit_->setObjectName(QStringLiteral("tcpPortEdit"));
    tcpPortEdit_->setMaxLength(static_cast<int>(kTcpPortTextMaxLength));
    place(tcpPortEdit_, kFieldX, kTcpPortY, kTcpPortWidth, kFieldHeight);
    labelFor(kTcpPortLabel, tcpPortEdit_, kTcpPortY, "tcpPortLabel");

    saveButton_ = new QPushButton(QString::fromLatin1(kSaveText), group);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    // Inside the console dialog a push button would take Enter as a click.
    saveButton_->setAutoDefault(false);
    place(saveButton_, kSaveRect.x(), kSaveRect.y(), kSaveRect.width(), kSaveRect.height());
    connect(saveButton_, &QPushButton::clicked, this, &IpSettingsPage::onSave);
}

void IpSettingsPage::setMacText(std::string_view text) {
    macText_ = firstLine(text);
    if (macText_.size() > kMacTextMaxLength) {
        macText_.resize(kMacTextMaxLength);
    }
}

void IpSettingsPage::setTcpPortText(std::string_view text) {
    tcpPortText_ = firstLine(text);
    if (tcpPortText_.size() > kTcpPortTextMaxLength) {
        tcpPortText_.resize(kTcpPortTextMaxLength);
    }
}

void IpSettingsPage::showHostAddress(std::uint32_t address) {
    hostAddress_->setAddress(Ipv4Address::fromUint32(address));
}

void IpSettingsPage::showNetMask(std::uint32_t address) {
    netMask_->setAddress(Ipv4Address::fromUint32(address));
}

void IpSettingsPage::showRouterAddress(std::uint32_t address) {
    routerAddress_->setAddress(Ipv4Address::fromUint32(address));
}

void IpSettingsPage::setDhcp(bool on) {
    dhcp_ = on;
    enableAddressControls(!on);
}

void IpSettingsPage::refresh() {
    dhcpBox_->setChecked(dhcp_);
    tcpPortEdit_->setText(QString::fromLatin1(tcpPortText_));
    macEdit_->setText(QString::fromLatin1(macText_));
}

void IpSettingsPage::readControls() {
    dhcp_ = dhcpBox_->isChecked();
    // One byte per character, as the switcher's single-byte command set has
    // it, so the field limits hold for the bytes too.
    tcpPortText_ = shownTcpPort();
    macText_ = firstLine(macEdit_->text().toLatin1().toStdString());
}

void IpSettingsPage::enableAddressControls(bool enabled) {
    hostAddress_->setEnabled(enabled);
    netMask_->setEnabled(enabled);
    routerAddress_->setEnabled(enabled);
}

void IpSettingsPage::onDhcpClicked() {
    readControls();
    enableAddressControls(!dhcp_);
}

void IpSettingsPage::onSave() {
    readControls();
    if (tcpPortText_.find(kMacUnlockWord) != std::string::npos) {
        macUnlocked_ = true;
        macEdit_->setEnabled(true);
        return;
    }
    NetworkSettings settings;
    settings.dhcp = dhcp_;
    settings.host = hostAddress_->address();
    settings.netMask = netMask_->address();
    settings.router = routerAddress_->address();
    settings.tcpPort = tcpPortText_;
    if (macUnlocked_) {
        settings.mac = macText_;
    }
    // The whole block goes out as one write.
    if (const auto command = networkSettingsCommand(settings)) {
        sender_.send(*command);
    }
}

void IpSettingsPage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

std::string IpSettingsPage::shownTcpPort() const {
    return firstLine(tcpPortEdit_->text().toLatin1().toStdString());
}

} // namespace mc
