#include "views/detail_dlg.h"

#include "app/lang_text.h"
#include "tracking/front_events.h"
#include "tracking/parvex_sub_task_mgr.h"
#include "views/detail_dlg_manager.h"
#include "views/sub_dlg_task_list.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kTitleText = 39;
// Tab titles "Error（%d）", "Complete（%d）", "Downloading（%d）".
constexpr int kFirstTabText = 40;
constexpr int kMinimumWidth = 650;
constexpr int kMinimumHeight = 350;

} // namespace

CDetailDlg::CDetailDlg(const CTaskViewInfo& task, CEngineBridge* bridge,
                       std::chrono::milliseconds pollInterval)
    : QDialog(nullptr), m_task(task), m_tabs(new QTabWidget(this)),
      m_tracker(std::make_unique<CParvexSubTaskMgr>(task.taskId, bridge, pollInterval)) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("任务详情"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(722, 411); // 481 × 253 dialog units
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);

    constexpr int kModes[] = {task_row::kModeFailed, task_row::kModeCompleted,
                              task_row::kModeInProgress};
    for (int tab = kFailedTab; tab <= kInProgressTab; ++tab) {
        auto* panel = new CSubDlgTaskList(m_tabs);
        panel->SetMode(kModes[tab]);
        panel->SetNotifyWindow(this);
        m_panels[static_cast<std::size_t>(tab)] = panel;
        m_tabs->addTab(panel, QString());
        m_tracker->AddWindow(panel);
    }
    m_tabs->setCurrentIndex(kFailedTab);
    m_tracker->Start(0);
    Retranslate();
}

CDetailDlg::~CDetailDlg() {
    StopTracker();
    CDetailDlgManager::Instance().Unregister(this);
}

void CDetailDlg::Retranslate() {
    setWindowTitle(GetLangText(kTitleText) + QStringLiteral(" - ") + m_task.targetPath);
    UpdateTabTitles();
    for (CSubDlgTaskList* panel : m_panels) {
        panel->Retranslate();
    }
}

void CDetailDlg::UpdateTabTitles() {
    m_tabs->setUpdatesEnabled(false);
    for (int tab = kFailedTab; tab <= kInProgressTab; ++tab) {
        m_tabs->setTabText(tab, LangFormat(kFirstTabText + tab, Panel(tab).RowCount()));
    }
    m_tabs->setUpdatesEnabled(true);
}

bool CDetailDlg::event(QEvent* event) {
    if (event->type() == FrontEventType(kMsgItemCountChanged)) {
        UpdateTabTitles();
        return true;
    }
    return QDialog::event(event);
}

void CDetailDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        // Hidden, not closed: the tracker keeps the rows current for the next opening.
        hide();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDetailDlg::closeEvent(QCloseEvent* event) {
    StopTracker();
    CDetailDlgManager::Instance().Unregister(this);
    event->accept();
}

void CDetailDlg::StopTracker() {
    if (!m_tracker) {
        return;
    }
    if (!m_tracker->StopAndWait(kStopBound)) {
        // Still inside a request: it keeps its object until it ends with the process.
        CParvexThread::KeepAliveForever(std::move(m_tracker));
    }
    m_tracker.reset();
}
