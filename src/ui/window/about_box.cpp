#include "window/about_box.h"

#include "widgets/dialog_units.h"
#include "widgets/resources.h"

#include <QLabel>
#include <QPushButton>

namespace mc {

namespace {

constexpr char kCaption[] = "About 8X8 Matrix controller";
constexpr char kVersionLine[] = "Duzare ZERIZIV Version 1.0";
constexpr char kNoticeLine[] = "Console for the 16x16 HDMI 2.0 matrix switcher over RS-232.";

} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setFont(dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.size(235, 55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(applicationIcon().pixmap(32, 32));
    icon->setAccessibleName(tr("Application icon"));
    icon->move(du.x(11), du.y(17));
    icon->resize(32, 32);

    auto* version = new QLabel(QString::fromLatin1(kVersionLine), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setGeometry(du.rect(40, 10, 119, 8));

    auto* notice = new QLabel(QString::fromLatin1(kNoticeLine), this);
    notice->setObjectName(QStringLiteral("aboutNotice"));
    notice->setGeometry(du.rect(40, 25, 190, 8));

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setGeometry(du.rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace mc
