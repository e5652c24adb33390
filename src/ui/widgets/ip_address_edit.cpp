#include "widgets/ip_address_edit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>
#include <algorithm>

namespace mc {

namespace {

constexpr int kOctetDigits = 3;
constexpr int kOctetMax = 255;

// Digits only, at most three, at most 255. Anything else never reaches the
// field, so reading it can only give 0 to 255.
class OctetValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& /*pos*/) const override {
        if (input.isEmpty()) {
            return Intermediate;
        }
        if (input.size() > kOctetDigits ||
            !std::all_of(input.cbegin(), input.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
            return Invalid;
        }
        return input.toInt() <= kOctetMax ? Acceptable : Invalid;
    }
};

} // namespace

IpAddressEdit::IpAddressEdit(const QString& name, QWidget* parent) : QWidget(parent) {
    setAccessibleName(name);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* validator = new OctetValidator(this);
    for (int i = 0; i < kOctets; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("octet%1").arg(i + 1));
        field->setAccessibleName(QStringLiteral("%1 octet %2").arg(name).arg(i + 1));
        field->setValidator(validator);
        field->setMaxLength(kOctetDigits);
        field->setAlignment(Qt::AlignCenter);
        field->installEventFilter(this);
        layout->addWidget(field, 1);
        fields_[static_cast<std::size_t>(i)] = field;
        connect(field, &QLineEdit::textEdited, this, [this, i, field](const QString& text) {
            if (text.size() == kOctetDigits && field->cursorPosition() == kOctetDigits) {
                advanceFrom(i);
            }
        });
    }
    // A label's buddy, or a click on the widget, lands in the first field.
    setFocusProxy(fields_[0]);
}

Ipv4Address IpAddressEdit::address() const {
    Ipv4Address address;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        // Blank reads 0; the validator keeps the rest within 0 to 255.
        address.octets[i] = static_cast<std::uint8_t>(std::clamp(fields_[i]->text().toInt(), 0, kOctetMax));
    }
    return address;
}

void IpAddressEdit::setAddress(const Ipv4Address& address) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number(address.octets[i]));
    }
}

QLineEdit* IpAddressEdit::octetField(int index) const {
    return index >= 0 && index < kOctets ? fields_[static_cast<std::size_t>(index)] : nullptr;
}

void IpAddressEdit::advanceFrom(int index) {
    const int nextIndex = index + 1;
    if (nextIndex < kOctets) {
        QLineEdit* next = fields_[static_cast<std::size_t>(nextIndex)];
        next->setFocus(Qt::OtherFocusReason);
        next->selectAll();
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto at = std::find(fields_.cbegin(), fields_.cend(), watched);
    if (at == fields_.cend()) {
        return QWidget::eventFilter(watched, event);
    }
    const int index = static_cast<int>(at - fields_.cbegin());
    QLineEdit* field = *at;
    const auto* key = static_cast<QKeyEvent*>(event);
    // A dot ends the octet, as in an address typed in one go.
    if (key->text() == QStringLiteral(".")) {
        if (!field->text().isEmpty() && !field->hasSelectedText()) {
            advanceFrom(index);
        }
        return true;
    }
    if (key->key() == Qt::Key_Backspace && field->cursorPosition() == 0 && !field->hasSelectedText() && index > 0) {
        QLineEdit* previous = fields_[static_cast<std::size_t>(index - 1)];
        previous->setFocus(Qt::OtherFocusReason);
        previous->end(false);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace mc
