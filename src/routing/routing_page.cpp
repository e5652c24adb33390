#include "routing/routing_page.h"

namespace mc {

RoutingPage::RoutingPage(Bank bank, CommandSender& sender, QWidget* parent)
    : QWidget(parent), bank_(bank), sender_(sender) {
    setObjectName(bank == FirstBank ? QStringLiteral("routingPage1") : QStringLiteral("routingPage2"));
}

} // namespace mc
