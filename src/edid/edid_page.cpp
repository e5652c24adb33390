#include "edid/edid_page.h"

namespace mc {

EdidPage::EdidPage(CommandSender& sender, QWidget* parent) : QWidget(parent), sender_(sender) {
    setObjectName(QStringLiteral("edidPage"));
}

} // namespace mc
