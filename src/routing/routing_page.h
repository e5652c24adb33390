#pragma once

#include <QWidget>

namespace mc {

class CommandSender;

// One routing page: eight outputs by sixteen inputs.
class RoutingPage : public QWidget {
    Q_OBJECT
public:
    enum Bank { FirstBank = 0, SecondBank = 1 };

    RoutingPage(Bank bank, CommandSender& sender, QWidget* parent = nullptr);

    [[nodiscard]] Bank bank() const { return bank_; }

private:
    Bank bank_;
    CommandSender& sender_;
};

} // namespace mc
