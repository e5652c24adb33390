#pragma once

#include "edid/edid_decoder.h"
#include "edid/edid_image.h"
#include "link/ports.h"
#include "session/edid_capture.h"
#include "session/reply_views.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace mc {

class ChoiceBox;
class CommandSender;
struct ConsoleState;

// The EDID management page: the EDID each input presents to its source, the
// read-back of an EDID from any port into a file, the upload of an EDID file
// into a user slot of an input, and the summary of the last EDID read or
// loaded. The read-back itself (the port asked, the file name, the mode) is
// the session's EDID capture's.
class EdidPage : public QWidget, public EdidView {
    Q_OBJECT
public:
    static constexpr int kInputs = kPortCount;

    // Asks the operator for the EDID file to load; an empty name cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;

    // `state`: whether the port is open.
    EdidPage(CommandSender& sender, EdidReadBackStarter& readBack, const ConsoleState& state,
             QWidget* parent = nullptr);

    // The input's (1..16) EDID choice as the switcher last reported it or the
    // operator picked it: 0..48, or none (also for other inputs).
    [[nodiscard]] std::optional<int> inputEdidChoice(int input) const;
    // EdidView: selects the input's (1..16) EDID choice at once, without a
    // redraw. An item the drop-down does not have leaves it with no
    // selection; other inputs are ignored.
    void selectInputEdid(int input, std::optional<int> item) override;
    void redrawEdidPage() override { refresh(); }
    void showCapturedEdid(const EdidImage& image) override { showEdid(image); }

    // Redraws the summary text from the stored summary.
    void refresh();
    // Rebuilds the summary from the page's EDID reports and redraws.
    void fillSummary();
    // Replaces the page's EDID reports with the image's, then fills the
    // summary. For a loaded file and for an EDID read back from the switcher.
    void showEdid(const EdidImage& image);

    [[nodiscard]] const EdidReports& reports() const { return reports_; }
    // The summary as the reports gave it: whole lines, each ending in CR LF.
    [[nodiscard]] const std::string& summary() const { return summary_; }

    // Tests replace the file-open dialog; an empty chooser restores it.
    void setFileChooser(FileChooser chooser);

protected:
    // Swallows Enter so that the console window neither closes nor clicks a
    // default button from this page.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildInputRows();
    void buildReadAndLoad();
    void applyEdid(int input);
    void readEdid();
    void loadEdid();

    CommandSender& sender_;
    EdidReadBackStarter& readBack_;
    const ConsoleState& state_;
    // The last EDID read back or loaded, decoded; the summary sums it up.
    EdidReports reports_;
    FileChooser chooseFile_;
    std::string summary_;

    std::array<ChoiceBox*, kInputs> inputEdid_{};
    ChoiceBox* readPort_ = nullptr;
    ChoiceBox* userSlot_ = nullptr;
    QPlainTextEdit* summaryEdit_ = nullptr;
};

} // namespace mc
