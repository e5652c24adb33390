#include "settings/ip_settings_page.h"

namespace mc {

IpSettingsPage::IpSettingsPage(CommandSender& sender, QWidget* parent) : QWidget(parent), sender_(sender) {
    setObjectName(QStringLiteral("ipSettingsPage"));
}

} // namespace mc
