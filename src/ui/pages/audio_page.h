#pragma once

#include <QWidget>
#include <array>

class QButtonGroup;
class QRadioButton;

namespace mc {

class CommandSender;

// The audio page: de-embedded audio On or Mute per output. A click stores
// what all sixteen radio pairs show and sends the command for its output.
class AudioPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOutputs = 16;
    static constexpr int kOn = 0;
    static constexpr int kMute = 1;
    static constexpr int kNone = -1;

    explicit AudioPage(CommandSender& sender, QWidget* parent = nullptr);

    // State of output 1..16: 0 On, 1 Mute, -1 neither (also for outputs
    // outside 1..16).
    [[nodiscard]] int audioState(int output) const;
    // Stores only; shown at the next refresh. A state other than 0 or 1
    // stores -1; outputs outside 1..16 are ignored.
    void setAudioState(int output, int state);
    // Stored states -> radios.
    void refresh();

    [[nodiscard]] QRadioButton* onRadio(int output) const;
    [[nodiscard]] QRadioButton* muteRadio(int output) const;

private:
    void buildOutput(int output, QWidget* section, const QRect& sectionRect);
    void readControls();
    void onClicked(int output);

    CommandSender& sender_;
    std::array<int, kOutputs> states_{};
    std::array<QButtonGroup*, kOutputs> pairs_{};
};

} // namespace mc
