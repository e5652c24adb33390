#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace mc {

// Caption of every message the console shows.
inline constexpr char kMessageCaption[] = "ZODU 4Z Uzaduz";

// Shows one modal message with the console's caption and a single OK button.
// Tests replace the presenter so that no modal loop blocks them.
using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;

void showMessage(QWidget* parent, const QString& text);
void setMessagePresenter(MessagePresenter presenter);
MessagePresenter defaultMessagePresenter();

} // namespace mc
