#include "views/detail_dlg_manager.h"

#include "views/detail_dlg.h"

#include <QMetaObject>

#include <algorithm>

namespace {

QString DetailKey(const CTaskViewInfo& task) {
    return task.targetPath;
}

} // namespace

CDetailDlgManager& CDetailDlgManager::Instance() {
    static CDetailDlgManager manager;
    return manager;
}

void CDetailDlgManager::OpenDetails(const CTaskViewInfo& task) {
    std::lock_guard lock(m_mutex);
    QPointer<CDetailDlg>& entry = m_dialogs[DetailKey(task)];
    if (entry) {
        entry->show();
        entry->raise();
        entry->activateWindow();
        entry->setFocus();
        return;
    }
    auto* dialog = new CDetailDlg(task, m_bridge, m_pollInterval);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    entry = dialog;
}

void CDetailDlgManager::CloseDetails(const CTaskViewInfo& task) {
    std::lock_guard lock(m_mutex);
    const auto found = m_dialogs.find(DetailKey(task));
    if (found == m_dialogs.end()) {
        return;
    }
    if (found->second) {
        // Queued: the caller may be inside one of the dialog's own handlers.
        QMetaObject::invokeMethod(found->second.data(), &QWidget::close, Qt::QueuedConnection);
    }
    m_dialogs.erase(found);
}

void CDetailDlgManager::RetranslateAll() {
    std::lock_guard lock(m_mutex);
    for (auto& [key, dialog] : m_dialogs) {
        if (dialog) {
            dialog->Retranslate();
        }
    }
}

void CDetailDlgManager::CloseAll() {
    std::map<QString, QPointer<CDetailDlg>> open;
    {
        std::lock_guard lock(m_mutex);
        open.swap(m_dialogs);
    }
    // Outside the lock: each closing dialog unregisters itself.
    for (auto& [key, dialog] : open) {
        if (dialog) {
            dialog->close();
        }
    }
}

CDetailDlg* CDetailDlgManager::Find(const CTaskViewInfo& task) {
    std::lock_guard lock(m_mutex);
    const auto found = m_dialogs.find(DetailKey(task));
    return found == m_dialogs.end() ? nullptr : found->second.data();
}

int CDetailDlgManager::OpenCount() {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(
        std::count_if(m_dialogs.begin(), m_dialogs.end(),
                      [](const auto& entry) { return !entry.second.isNull(); }));
}

void CDetailDlgManager::Unregister(const CDetailDlg* dialog) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_dialogs, [dialog](const auto& entry) {
        return entry.second.isNull() || entry.second.data() == dialog;
    });
}
