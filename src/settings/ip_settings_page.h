#pragma once

#include <QWidget>

namespace mc {

class CommandSender;

// The IP settings page.
class IpSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit IpSettingsPage(CommandSender& sender, QWidget* parent = nullptr);

private:
    CommandSender& sender_;
};

} // namespace mc
