#include "window/console_window.h"

#include "pages/audio_page.h"
#include "pages/edid_page.h"
#include "pages/ip_settings_page.h"
#include "pages/routing_page.h"
#include "widgets/dialog_units.h"
#include "widgets/message_box.h"
#include "widgets/resources.h"
#include "widgets/window_placement.h"
#include "window/about_box.h"
#include "window/byte_handover.h"
#include "window/network_dialog.h"
#include "window/traffic_monitor.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

namespace mc {

namespace {

// The window's texts, the About box's and the pages' are kept letter for
// letter on purpose, even where they read oddly ("8X8" on a 16-port switcher,
// trailing blanks): operators' instructions, screenshots and the tests that
// find controls by their text rely on them. Change none of them by accident.
constexpr char kCaption[] = "RUVI 2.0(18Z)Evavoz16:16 V1.0";
constexpr char kCommLabel[] = "Comm:";
constexpr char kSearchMachine[] = "Search Machine";
constexpr char kAboutMenuText[] = "&About 4K 8X8 matrix...";
constexpr char kTrafficMonitorMenuText[] = "&Traffic Monitor...";
constexpr char kRefreshStatusMenuText[] = "&Refresh Status";

// Tabs in their order; the tab index is the page's place in the tab widget.
constexpr const char* kTabTexts[] = {"Matrix Out1 ~ Out8", "Matrix Out9 ~ Out16", "EDID Management", "IP Setting",
                                     "  Audio  "};

constexpr int kPortIconPixels = 32;

QString latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ConsoleWindow::ConsoleWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("consoleWindow"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(applicationIcon());
    // Caption, system menu and minimize box; no maximize box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(dialogFont());
    setFixedSize(DialogUnits(font()).size(599, 334));

    handover_ = std::make_unique<ByteHandover>(
        ByteHandover::BurstHandler([this](std::span<const std::uint8_t> bytes, int link, bool portError) {
            session_->receive(bytes, link, portError);
        }),
        // Port worker thread: the session exists whenever a worker runs.
        [this] { return session_->channel().portError(); });
    handover_->onLinkFailed([this](int link, const std::string& reason) { session_->linkFailed(link, reason); });
    handover_->onLinkConnected([this](int link) { session_->linkConnected(link); });
    ConnectionView& view = *this;
    session_ = std::make_unique<Session>(*handover_, view, edidFiles_);
    buildPages();
    session_->showRepliesOn(PageViews{{*routing1_, *routing2_}, *edidPage_, *ipSettingsPage_, *audioPage_});
    buildPortControls();
    // The tab control comes first in the window's control order, so it takes
    // the first focus and Enter at start opens nothing; the port controls follow.
    setTabOrder(tabs_, portButton_);
    setTabOrder(portButton_, comSelector_);
    setTabOrder(comSelector_, searchButton_);
    buildNetworkAction();
    buildRefreshAction();
    buildAboutAction();
    wirePortControls();
    addressBook_ = loadAddressBook(".", [this](std::string_view text) { showMessage(text); });
}

ConsoleWindow::~ConsoleWindow() {
    // The window is going away: a worker waiting to hand over bytes is
    // released, not waited for, and the port closes.
    handover_->cancel();
    session_->channel().closeLink();
    // The monitor reads the traffic log, which goes before the child widgets.
    delete trafficMonitor_;
    trafficMonitor_ = nullptr;
}

void ConsoleWindow::buildPortControls() {
    const DialogUnits du(font());

    portButton_ = new QPushButton(QString::fromLatin1(kTurnOnPortText), this);
    portButton_->setObjectName(QStringLiteral("portButton"));
    portButton_->setGeometry(du.rect(52, 7, 53, 14));

    portIcon_ = new QLabel(this);
    portIcon_->setObjectName(QStringLiteral("portIcon"));
    portIcon_->setGeometry(du.rect(7, 10, 20, 20));
    portIcon_->setAccessibleName(tr("Port state"));
    showPortIcon(false);

    auto* commLabel = new QLabel(QString::fromLatin1(kCommLabel), this);
    commLabel->setObjectName(QStringLiteral("commLabel"));
    // Right-aligned and widened to its text if the substituted font runs wider,
    // so "Comm:" keeps its place just left of the selector.
    const QRect commRect = du.rect(33, 27, 21, 8);
    const int commWidth = std::max(commRect.width(), commLabel->sizeHint().width());
    commLabel->setGeometry(commRect.right() + 1 - commWidth, commRect.y(), commWidth, commRect.height());
    commLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    comSelector_ = new QComboBox(this);
    comSelector_->setObjectName(QStringLiteral("comSelector"));
    // The drop-down's height in the layout is that of its open list.
    const QRect comRect = du.rect(54, 25, 52, 154);
    comSelector_->setGeometry(comRect.x(), comRect.y(), comRect.width(), comSelector_->sizeHint().height());
    comSelector_->setMaxVisibleItems(comRect.height() / comSelector_->sizeHint().height());
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        comSelector_->addItem(QString::fromStdString(comPortName(n)));
    }
    comSelector_->setCurrentIndex(state().comPort - kFirstComPort);
    commLabel->setBuddy(comSelector_);

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setGeometry(du.rect(13, 45, 87, 8));
    // Assistive technology reads the line's text as its name (a label's name
    // is its text); what the line is for is its description.
    statusLine_->setAccessibleDescription(tr("Status"));

    searchButton_ = new QPushButton(QString::fromLatin1(kSearchMachine), this);
    searchButton_->setObjectName(QStringLiteral("searchButton"));
    searchButton_->setGeometry(du.rect(7, 57, 101, 22));
}

void ConsoleWindow::wirePortControls() {
    searchTimer_ = new QTimer(this);
    searchTimer_->setObjectName(QStringLiteral("searchTimer"));
    connect(searchTimer_, &QTimer::timeout, this, [this] { connection().timerFired(ConsoleTimer::Search); });

    connect(portButton_, &QPushButton::clicked, this, [this] { connection().portButtonClicked(); });
    // A change of selection, not a pick: choosing the selected port again
    // leaves the link alone. Selections made by the search confirmation are
    // made with signals blocked.
    connect(comSelector_, &QComboBox::currentIndexChanged, this,
            [this](int index) { connection().comSelectionChanged(index); });
    connect(searchButton_, &QPushButton::clicked, this, [this] { connection().searchMachineClicked(); });
}

void ConsoleWindow::buildPages() {
    const DialogUnits du(font());
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("pageTabs"));
    tabs_->setGeometry(du.rect(112, 7, 468, 320));

    Session& session = *session_;
    routing1_ = new RoutingPage(RoutingPage::FirstBank, session);
    routing2_ = new RoutingPage(RoutingPage::SecondBank, session);
    edidPage_ = new EdidPage(session, session, session.state());
    ipSettingsPage_ = new IpSettingsPage(session);
    audioPage_ = new AudioPage(session);

    QWidget* const pages[] = {routing1_, routing2_, edidPage_, ipSettingsPage_, audioPage_};
    static_assert(std::size(pages) == std::size(kTabTexts));
    for (std::size_t i = 0; i < std::size(pages); ++i) {
        tabs_->addTab(pages[i], QString::fromLatin1(kTabTexts[i]));
    }
    tabs_->setCurrentIndex(0);
}

void ConsoleWindow::buildAboutAction() {
    // The window's context menu (right click), with Ctrl+M and F1.
    auto* monitor = new QAction(QString::fromLatin1(kTrafficMonitorMenuText), this);
    monitor->setObjectName(QStringLiteral("trafficMonitorAction"));
    monitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    connect(monitor, &QAction::triggered, this, &ConsoleWindow::showTrafficMonitor);
    addAction(monitor);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* about = new QAction(QString::fromLatin1(kAboutMenuText), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    connect(about, &QAction::triggered, this, &ConsoleWindow::showAboutBox);
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void ConsoleWindow::buildNetworkAction() {
    auto* action = new QAction(tr("Connect over &Network..."), this);
    action->setObjectName(QStringLiteral("networkAction"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(action, &QAction::triggered, this, &ConsoleWindow::showNetworkDialog);
    addAction(action);
}

void ConsoleWindow::buildRefreshAction() {
    // The pages keep the operator's last clicks and the replies since; this
    // asks the switcher for all of it again (after a close, or changes made
    // at the front panel or by another program).
    refreshAction_ = new QAction(QString::fromLatin1(kRefreshStatusMenuText), this);
    refreshAction_->setObjectName(QStringLiteral("refreshStatusAction"));
    refreshAction_->setShortcut(QKeySequence(Qt::Key_F5));
    refreshAction_->setEnabled(state().portOpen);
    connect(refreshAction_, &QAction::triggered, this, [this] { session_->requestStatus(); });
    addAction(refreshAction_);
}

void ConsoleWindow::showNetworkDialog() {
    // The port as the IP Setting page shows it now, edited or not.
    NetworkDialog dialog(ipSettingsPage_->shownTcpPort(), this);
    if (dialog.exec() == QDialog::Accepted && dialog.address()) {
        connectOverNetwork(*dialog.address());
    }
}

void ConsoleWindow::connectOverNetwork(const TcpLinkAddress& address) {
    connection().connectNetwork(address);
}

void ConsoleWindow::showLinkPeer(std::string_view text) {
    const QString peer = QString::fromStdString(std::string(text));
    portIcon_->setToolTip(peer);
    portButton_->setToolTip(peer);
    portButton_->setAccessibleDescription(peer);
}

void ConsoleWindow::showNetworkItem(std::string_view peer) {
    const QSignalBlocker quiet(comSelector_);
    const QString text = QString::fromStdString(std::string(peer));
    comSelector_->setToolTip(text);
    comSelector_->setAccessibleDescription(text);
    if (peer.empty()) {
        if (comSelector_->count() > kNetworkItemIndex) {
            comSelector_->removeItem(kNetworkItemIndex);
        }
        return;
    }
    // Most peers are wider than the selector's field: the host is shortened
    // at its end, with an ellipsis, and the port kept whole ("192.16...:5000");
    // cut off instead, "192.168.1.100:5000" would read as "192.168.1.1". The
    // tooltip and the description hold it whole.
    QStyleOptionComboBox option;
    option.initFrom(comSelector_);
    const int room = comSelector_->style()
                         ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, comSelector_)
                         .width() -
                     2;
    const QFontMetrics metrics = comSelector_->fontMetrics();
    QString shown = text;
    if (metrics.horizontalAdvance(text) > room) {
        const QString port = text.mid(text.lastIndexOf(QLatin1Char(':')));
        shown = metrics.elidedText(text.left(text.size() - port.size()), Qt::ElideRight,
                                   room - metrics.horizontalAdvance(port)) +
                port;
    }
    if (comSelector_->count() > kNetworkItemIndex) {
        comSelector_->setItemText(kNetworkItemIndex, shown);
    } else {
        comSelector_->addItem(shown);
    }
    comSelector_->setItemData(kNetworkItemIndex, text, Qt::ToolTipRole);
    comSelector_->setItemData(kNetworkItemIndex, text, Qt::AccessibleTextRole);
    comSelector_->setCurrentIndex(kNetworkItemIndex);
}

void ConsoleWindow::keyPressEvent(QKeyEvent* event) {
    // A focused push button takes Enter itself; what reaches the window came
    // from another control and must not click the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConsoleWindow::showAboutBox() {
    AboutBox box(this);
    box.exec();
}

TrafficLog& ConsoleWindow::trafficLog() {
    if (!trafficLog_) {
        trafficLog_ = std::make_unique<TrafficLog>();
    }
    return *trafficLog_;
}

void ConsoleWindow::setTrafficRecording(bool on) {
    trafficRecording_ = on;
    updateTrafficObserver();
}

void ConsoleWindow::showTrafficMonitor() {
    if (trafficMonitor_ == nullptr) {
        // A child window: the modal console does not block it.
        trafficMonitor_ = new TrafficMonitor(trafficLog(), this);
        connect(trafficMonitor_, &TrafficMonitor::visibilityChanged, this, [this] { updateTrafficObserver(); });
        // Beside the console, not over it, and on the console's screen.
        const QScreen* shownOn = screen();
        const QRect available = shownOn != nullptr ? shownOn->availableGeometry() : frameGeometry();
        trafficMonitor_->move(placeBeside(frameGeometry(), trafficMonitor_->frameGeometry().size(), available));
    }
    trafficMonitor_->show();
    trafficMonitor_->raise();
    trafficMonitor_->activateWindow();
}

void ConsoleWindow::updateTrafficObserver() {
    const bool on = trafficRecording_ || (trafficMonitor_ != nullptr && trafficMonitor_->isVisible());
    TrafficObserver* observer = on ? &trafficLog() : nullptr;
    if (on && channel().isOpen()) {
        trafficLog().setCurrentLink(connection().linkName());
    }
    session_->setTrafficObserver(observer);
}

void ConsoleWindow::showPortIcon(bool open) {
    portIcon_->setPixmap((open ? openPortIcon() : closedPortIcon()).pixmap(kPortIconPixels, kPortIconPixels));
    portIcon_->setAccessibleDescription(open ? tr("Port open") : tr("Port closed"));
    // The icon follows every open and close; so does the one action that
    // needs an open port.
    if (refreshAction_ != nullptr) {
        refreshAction_->setEnabled(open);
    }
}

void ConsoleWindow::setPortButtonText(std::string_view text) {
    portButton_->setText(latin1(text));
}

void ConsoleWindow::setStatusText(std::string_view text) {
    statusLine_->setText(latin1(text));
}

void ConsoleWindow::showMessage(std::string_view text) {
    mc::showMessage(this, latin1(text));
}

void ConsoleWindow::selectComItem(int index) {
    const QSignalBlocker quiet(comSelector_);
    comSelector_->setCurrentIndex(index);
}

QTimer* ConsoleWindow::timer(ConsoleTimer /*which*/) const {
    return searchTimer_; // the only one
}

void ConsoleWindow::startConsoleTimer(ConsoleTimer which, std::chrono::milliseconds period) {
    timer(which)->start(period);
}

void ConsoleWindow::stopConsoleTimer(ConsoleTimer which) {
    timer(which)->stop();
}

void ConsoleWindow::pauseWindowThread(std::chrono::milliseconds duration) {
    // Bytes that arrive meanwhile wait in the hand-over.
    QThread::msleep(static_cast<unsigned long>(duration.count()));
}

} // namespace mc
