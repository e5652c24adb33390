#include "pages/audio_page.h"

#include "link/commands.h"
#include "widgets/dialog_units.h"
#include "widgets/radio_group.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

namespace mc {

namespace {

constexpr char kSectionTitle[] = "Deembedded audio On/Mute";
constexpr char kOutputPrefix[] = "Out";
constexpr char kOnText[] = "On";
constexpr char kMuteText[] = "Mute";

// Outputs 1 to 8 start with "On" shown, 9 to 16 with neither, before the
// switcher has been asked.
constexpr int kFirstOutputStartingUnknown = 9;

// Layout in dialog units, relative to the page.
constexpr QRect kSectionRect{67, 53, 321, 122};
constexpr int kGridColumns = 4;
constexpr std::array<int, kGridColumns> kBoxX = {85, 155, 226, 296};
constexpr std::array<int, AudioPage::kOutputs / kGridColumns> kBoxY = {60, 86, 111, 136};
constexpr int kBoxWidth = 68;
constexpr int kBoxHeight = 23;
constexpr int kRadioTop = 10;
constexpr int kRadioHeight = 10;
constexpr int kOnLeft = 6;
constexpr int kOnWidth = 24;
constexpr int kMuteLeft = 34;
constexpr int kMuteWidth = 30;

// The radios' ids in their output's button group.
constexpr int kOnId = 0;
constexpr int kMuteId = 1;

bool isValidOutput(int output) {
    return isValidPort(output);
}

std::optional<int> radioId(std::optional<AudioState> state) {
    if (!state) {
        return std::nullopt;
    }
    return *state == AudioState::On ? kOnId : kMuteId;
}

std::size_t slot(int output) {
    return static_cast<std::size_t>(output - 1);
}

} // namespace

AudioPage::AudioPage(CommandSender& sender, QWidget* parent) : QWidget(parent), sender_(sender) {
    setObjectName(QStringLiteral("audioPage"));
    // The page lays itself out before the tab widget adopts it.
    setFont(dialogFont());
    for (int output = 1; output <= kOutputs; ++output) {
        if (output < kFirstOutputStartingUnknown) {
            states_[slot(output)] = AudioState::On;
        }
    }

    const DialogUnits du(font());
    auto* section = new QGroupBox(QString::fromLatin1(kSectionTitle), this);
    section->setObjectName(QStringLiteral("audioSection"));
    const QRect sectionRect = du.rect(kSectionRect.x(), kSectionRect.y(), kSectionRect.width(), kSectionRect.height());
    section->setGeometry(sectionRect);
    for (int output = 1; output <= kOutputs; ++output) {
        buildOutput(output, section, sectionRect);
    }
    refresh();
}

void AudioPage::buildOutput(int output, QWidget* section, const QRect& sectionRect) {
    const DialogUnits du(font());
    const int index = output - 1;
    const int boxX = kBoxX[static_cast<std::size_t>(index % kGridColumns)];
    const int boxY = kBoxY[static_cast<std::size_t>(index / kGridColumns)];

    const QString title = QString::fromLatin1(kOutputPrefix) + QString::number(output);
    auto* box = new QGroupBox(title, section);
    box->setObjectName(QStringLiteral("audioOut%1").arg(output));
    // A group box inside another is read with the outer title; each output
    // names its own group and its radios, so the 32 radios are told apart.
    box->setAccessibleName(title);
    box->setAlignment(Qt::AlignHCenter);
    const QRect boxRect = du.rect(boxX, boxY, kBoxWidth, kBoxHeight);
    box->setGeometry(boxRect.translated(-sectionRect.topLeft()));

    // Radios sit in their output's box and carry its title in their names:
    // "Out3 On", "Out3 Mute".
    const auto radio = [&](const char* text, const char* suffix, int left, int width) {
        auto* button = new QRadioButton(QString::fromLatin1(text), box);
        button->setAccessibleName(title + QLatin1Char(' ') + QString::fromLatin1(text));
        button->setObjectName(QStringLiteral("audioOut%1%2").arg(output).arg(QLatin1String(suffix)));
        button->setGeometry(du.rect(boxX + left, boxY + kRadioTop, width, kRadioHeight).translated(-boxRect.topLeft()));
        return button;
    };
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(radio(kOnText, "On", kOnLeft, kOnWidth), kOnId);
    group->addButton(radio(kMuteText, "Mute", kMuteLeft, kMuteWidth), kMuteId);
    pairs_[slot(output)] = group;
    // clicked, not toggled: a click on the checked radio sends again.
    connect(group, &QButtonGroup::idClicked, this, [this, output](int) { onClicked(output); });
}

std::optional<AudioState> AudioPage::audioState(int output) const {
    return isValidOutput(output) ? states_[slot(output)] : std::nullopt;
}

void AudioPage::setAudioState(int output, AudioState state) {
    if (isValidOutput(output)) {
        states_[slot(output)] = state;
    }
}

void AudioPage::refresh() {
    for (int output = 1; output <= kOutputs; ++output) {
        checkRadioOrNone(*pairs_[slot(output)], radioId(states_[slot(output)]));
    }
}

void AudioPage::readControl(int output) {
    switch (pairs_[slot(output)]->checkedId()) {
    case kOnId:
        states_[slot(output)] = AudioState::On;
        break;
    case kMuteId:
        states_[slot(output)] = AudioState::Mute;
        break;
    default:
        states_[slot(output)] = std::nullopt;
        break;
    }
}

void AudioPage::onClicked(int output) {
    // Only the clicked pair changed: every other one shows what is stored.
    readControl(output);
    // The clicked pair has a checked radio; Mute is only a fallback.
    if (const auto command = audioCommand(output, states_[slot(output)].value_or(AudioState::Mute))) {
        sender_.send(*command);
    }
}

QRadioButton* AudioPage::onRadio(int output) const {
    return isValidOutput(output) ? qobject_cast<QRadioButton*>(pairs_[slot(output)]->button(kOnId)) : nullptr;
}

QRadioButton* AudioPage::muteRadio(int output) const {
    return isValidOutput(output) ? qobject_cast<QRadioButton*>(pairs_[slot(output)]->button(kMuteId)) : nullptr;
}

} // namespace mc
