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

// The audio page: de-embedded audio On or Mute per output. A click stores
// what its radio pair shows and sends the command for its output.
class AudioPage : public QWidget, public AudioView {
    Q_OBJECT
public:
    static constexpr int kOutputs = kPortCount;

    explicit AudioPage(CommandSender& sender, QWidget* parent = nullptr);

    // State of output 1..16; std::nullopt when neither radio shows (also for
    // outputs outside 1..16).
    [[nodiscard]] std::optional<AudioState> audioState(int output) const;
    // AudioView. Stores only; shown at the next redraw. Outputs outside 1..16
    // are ignored.
    void setAudioState(int output, AudioState state) override;
    void redrawAudio() override { refresh(); }
    // Redraws the radios from the stored states.
    void refresh();

    [[nodiscard]] QRadioButton* onRadio(int output) const;
    [[nodiscard]] QRadioButton* muteRadio(int output) const;

private:
    void buildOutput(int output, QWidget* section, const QRect& sectionRect);
    // Stores what the output's radio pair shows.
    void readControl(int output);
    void onClicked(int output);

    CommandSender& sender_;
    std::array<std::optional<AudioState>, kOutputs> states_{};
    std::array<QButtonGroup*, kOutputs> pairs_{};
};

} // namespace mc
