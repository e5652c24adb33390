#pragma once

#include <QDialog>

namespace mc {

// The About box: application icon, version line, a notice and OK.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace mc
