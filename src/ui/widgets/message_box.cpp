#include "widgets/message_box.h"

#include <QMessageBox>
#include <utility>

namespace mc {

namespace {

MessagePresenter& presenter() {
    static MessagePresenter current = defaultMessagePresenter();
    return current;
}

} // namespace

MessagePresenter defaultMessagePresenter() {
    return [](QWidget* parent, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageCaption), text, QMessageBox::Ok, parent);
        box.exec();
    };
}

void showMessage(QWidget* parent, const QString& text) {
    presenter()(parent, text);
}

void setMessagePresenter(MessagePresenter replacement) {
    presenter() = replacement ? std::move(replacement) : defaultMessagePresenter();
}

} // namespace mc
