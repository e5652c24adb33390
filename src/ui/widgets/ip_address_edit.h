#pragma once

#include "link/commands.h"

#include <QWidget>
#include <array>

class QLineEdit;

namespace mc {

// An IPv4 address as four octet fields joined by dots. Each field takes 0 to
// 255; a blank field reads as 0. Typing a third digit or a dot moves on to
// the next field.
class IpAddressEdit : public QWidget {
    Q_OBJECT
public:
    static constexpr int kOctets = 4;

    // `name` is what assistive technology reads: the fields are "<name> octet 1"
    // to "<name> octet 4".
    explicit IpAddressEdit(const QString& name, QWidget* parent = nullptr);

    [[nodiscard]] Ipv4Address address() const;
    void setAddress(const Ipv4Address& address);

    [[nodiscard]] QLineEdit* octetField(int index) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void advanceFrom(int index);

    std::array<QLineEdit*, kOctets> fields_{};
};

} // namespace mc
