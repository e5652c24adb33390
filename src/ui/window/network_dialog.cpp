#include "window/network_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <charconv>
#include <memory>

namespace mc {

namespace {

constexpr int kDefaultPort = 5000;
constexpr char kHostKey[] = "network/host";
constexpr char kPortKey[] = "network/port";

// In the per-user configuration place ($XDG_CONFIG_HOME/matrix-console on
// Linux), never the working directory, where the console keeps its EDID files.
std::unique_ptr<QSettings> settings() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("matrix-console"),
                                       QStringLiteral("matrix-console"));
}

std::optional<int> portNumber(const std::string& text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

} // namespace

NetworkDialog::NetworkDialog(const std::string& ipPageTcpPort, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("networkDialog"));
    setWindowTitle(tr("Connect over Network"));

    hostEdit_ = new QLineEdit(this);
    hostEdit_->setObjectName(QStringLiteral("networkHostEdit"));
    hostEdit_->setAccessibleName(tr("Host"));
    hostEdit_->setMaxLength(static_cast<int>(kLinkAddressMaxLength));
    hostEdit_->setPlaceholderText(tr("name, IPv4 or IPv6 address"));
    portEdit_ = new QSpinBox(this);
    portEdit_->setObjectName(QStringLiteral("networkPortEdit"));
    portEdit_->setAccessibleName(tr("TCP port"));
    portEdit_->setRange(1, 65535);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("networkProblem"));
    problem_->setAccessibleName(tr("Problem"));
    problem_->setWordWrap(true);
    problem_->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* connectButton = buttons->button(QDialogButtonBox::Ok);
    connectButton->setText(tr("Connect"));
    connectButton->setObjectName(QStringLiteral("networkConnectButton"));
    connectButton->setAccessibleName(tr("Connect"));
    QPushButton* cancelButton = buttons->button(QDialogButtonBox::Cancel);
    cancelButton->setObjectName(QStringLiteral("networkCancelButton"));
    cancelButton->setAccessibleName(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetworkDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(tr("&Host:"), hostEdit_);
    form->addRow(tr("TCP &port:"), portEdit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);

    const std::optional<TcpLinkAddress> last = lastUsed();
    hostEdit_->setText(last ? QString::fromStdString(last->host) : QString());
    portEdit_->setValue(portNumber(ipPageTcpPort).value_or(last ? last->port : kDefaultPort));
}

void NetworkDialog::accept() {
    const std::string host = hostEdit_->text().trimmed().toStdString();
    const std::string port = std::to_string(portEdit_->value());
    // The host goes through the one address syntax: what it refuses here it
    // would refuse on the command line too.
    const std::string text = host.find(':') != std::string::npos ? "[" + host + "]:" + port : host + ":" + port;
    const LinkAddressResult parsed = parseLinkAddress(text);
    if (const auto* error = std::get_if<LinkAddressError>(&parsed)) {
        problem_->setText(QString::fromStdString(error->message));
        problem_->show();
        hostEdit_->setFocus();
        return;
    }
    const auto* tcp = std::get_if<TcpLinkAddress>(&std::get<LinkAddress>(parsed));
    if (tcp == nullptr) {
        problem_->setText(tr("%1 names a serial port, not a host").arg(QString::fromStdString(host)));
        problem_->show();
        return;
    }
    address_ = *tcp;
    remember(*tcp);
    QDialog::accept();
}

std::optional<TcpLinkAddress> NetworkDialog::lastUsed() {
    const auto stored = settings();
    const std::string host = stored->value(QLatin1String(kHostKey)).toString().toStdString();
    const std::optional<int> port = portNumber(stored->value(QLatin1String(kPortKey)).toString().toStdString());
    if (host.empty() || host.size() > kLinkAddressMaxLength || !port) {
        return std::nullopt;
    }
    return TcpLinkAddress{host, static_cast<std::uint16_t>(*port)};
}

void NetworkDialog::remember(const TcpLinkAddress& address) {
    const auto stored = settings();
    stored->setValue(QLatin1String(kHostKey), QString::fromStdString(address.host));
    stored->setValue(QLatin1String(kPortKey), address.port);
}

} // namespace mc
