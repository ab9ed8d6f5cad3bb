#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message the windows show goes through here: a modal box owned by `owner`, an OK button
// only (text 0), the caption text 2, both in the current language.
void ShowMessage(QWidget* owner, const QString& text);

// Tests answer messages without a modal loop: while a handler is set, each message goes to it
// and no box is shown. An empty handler restores the real box. Window thread only.
using MessageHandler = std::function<void(QWidget* owner, const QString& text)>;
void SetMessageHandler(MessageHandler handler);
