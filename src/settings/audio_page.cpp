#include "settings/audio_page.h"

namespace mc {

AudioPage::AudioPage(CommandSender& sender, QWidget* parent) : QWidget(parent), sender_(sender) {
    setObjectName(QStringLiteral("audioPage"));
}

} // namespace mc
