#pragma once

#include <QWidget>

namespace mc {

class CommandSender;

// The EDID management page.
class EdidPage : public QWidget {
    Q_OBJECT
public:
    explicit EdidPage(CommandSender& sender, QWidget* parent = nullptr);

private:
    CommandSender& sender_;
};

} // namespace mc
