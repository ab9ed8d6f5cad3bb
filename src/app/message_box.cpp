#include "app/message_box.h"

#include "app/lang_text.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

MessageHandler& Handler() {
    static MessageHandler handler;
    return handler;
}

} // namespace

void ShowMessage(QWidget* owner, const QString& text) {
    if (Handler()) {
        Handler()(owner, text);
        return;
    }
    QMessageBox box(owner);
    box.setWindowTitle(GetLangText(lang_text::kTips));
    box.setText(text);
    box.setIcon(QMessageBox::NoIcon);
    QPushButton* ok = box.addButton(GetLangText(lang_text::kOk), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

void SetMessageHandler(MessageHandler handler) {
    Handler() = std::move(handler);
}
