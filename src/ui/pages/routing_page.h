#pragma once

#include <QWidget>
#include <array>

class QButtonGroup;
class QRadioButton;

namespace mc {

class CommandSender;

// One routing page: eight outputs by sixteen inputs. A click on a radio routes
// its input to its output at once. The rows show what the switcher last
// reported (the stored output selections), not what was clicked: a click
// leaves the stored selection alone, and the next refresh shows it again.
class RoutingPage : public QWidget {
    Q_OBJECT
public:
    enum Bank { FirstBank = 0, SecondBank = 1 };

    static constexpr int kRows = 8;
    static constexpr int kInputs = 16;
    static constexpr int kNoSelection = -1;

    RoutingPage(Bank bank, CommandSender& sender, QWidget* parent = nullptr);

    [[nodiscard]] Bank bank() const { return bank_; }

    // The output (1 to 16) that row 0..7 of this page routes.
    [[nodiscard]] int outputOfRow(int row) const;

    // Input index 0..15 stored for the row (0..7), or -1 for none.
    [[nodiscard]] int outputSelection(int row) const;
    // Stores only; shown at the next refresh. An index outside 0..15 stores
    // -1 (no radio of the row matches it). Rows outside 0..7 are ignored.
    void setOutputSelection(int row, int input);

    // Stored selections -> radios: each row checks its stored radio, or none.
    void refresh();

    [[nodiscard]] QRadioButton* radio(int row, int input) const;

private:
    void buildRow(int row);
    void route(int row, int input);

    Bank bank_;
    CommandSender& sender_;
    std::array<int, kRows> selections_{};
    std::array<QButtonGroup*, kRows> rowGroups_{};
};

} // namespace mc
