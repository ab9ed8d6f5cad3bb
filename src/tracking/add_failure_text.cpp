#include "tracking/add_failure_text.h"

#include "app/lang_text.h"

QString AddFailureText(const AddedTask& added) {
    const QByteArray path = added.itemPath.toUtf8();
    if (added.errorCode != 0) {
        return ErrorMessageText(LangFormat(lang_text::kCliInvalidName, path.constData()),
                                added.errorCode);
    }
    return LangFormat(lang_text::kCliTaskNotAdded, path.constData());
}
