#pragma once

#include <QWidget>

namespace mc {

class CommandSender;

// The audio page: de-embedded audio On or Mute per output.
class AudioPage : public QWidget {
    Q_OBJECT
public:
    explicit AudioPage(CommandSender& sender, QWidget* parent = nullptr);

private:
    CommandSender& sender_;
};

} // namespace mc
