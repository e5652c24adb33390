#pragma once

#include "link/ports.h"
#include "session/reply_views.h"

#include <QWidget>
#include <array>
#include <optional>

class QButtonGroup;
class QRadioButton;

namespace mc {

class CommandSender;

// One routing page: eight outputs by sixteen inputs. A click on a radio routes
// its input to its output at once. The rows show what the switcher last
// reported (the stored output selections), not what was clicked: a click
// leaves the stored selection alone, and the next redraw shows it again.
class RoutingPage : public QWidget, public RoutingView {
    Q_OBJECT
public:
    enum Bank { FirstBank = 0, SecondBank = 1 };

    // Outputs per page: the two pages share the outputs between them.
    static constexpr int kRows = kPortCount / 2;
    static constexpr int kInputs = kPortCount;

    RoutingPage(Bank bank, CommandSender& sender, QWidget* parent = nullptr);

    [[nodiscard]] Bank bank() const { return bank_; }

    // The output (1 to 16) that row 0..7 of this page routes.
    [[nodiscard]] int outputOfRow(int row) const;

    // Input index 0..15 stored for the row (0..7), or none.
    [[nodiscard]] std::optional<int> outputSelection(int row) const;
    // Stores only; shown at the next redraw. An index outside 0..15 stores
    // none (no radio of the row matches it). Rows outside 0..7 are ignored.
    void setRowSelection(int row, std::optional<int> input);

    // Redraws from the stored selections: each row checks its stored radio,
    // or none.
    void refresh();

    // RoutingView: outputs this page does not show are ignored.
    void setOutputSelection(int output, std::optional<int> input) override;
    void redrawRouting() override { refresh(); }

    [[nodiscard]] QRadioButton* radio(int row, int input) const;

private:
    void buildRow(int row);
    void route(int row, int input);

    Bank bank_;
    CommandSender& sender_;
    std::array<std::optional<int>, kRows> selections_{};
    std::array<QButtonGroup*, kRows> rowGroups_{};
};

} // namespace mc
