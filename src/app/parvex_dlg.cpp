#include "app/parvex_dlg.h"

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/language.h"
#include "app/message_box.h"
#include "intake/add_dlg.h"
#include "intake/select_file.h"
#include "tracking/add_failure_text.h"
#include "tracking/parvex_task_mgr.h"
#include "views/detail_dlg_manager.h"
#include "views/sub_dlg_task_list.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

namespace {

constexpr int kCaptionText = 4;
constexpr int kAddText = 5; // then Start, Pause, Remove, Detail
constexpr int kNoFolderText = 10;

// Dialog units of the window's layout turned into pixels (the system font's averages).
constexpr int Dx(int units) {
    return units * 3 / 2;
}
constexpr int Dy(int units) {
    return units * 13 / 8;
}

} // namespace

CParvexDlg::CParvexDlg(CParvexTaskMgr* tracker, CEngineBridge* bridge, QWidget* parent)
    : QDialog(parent), m_tracker(tracker), m_bridge(bridge) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(Dx(495), Dy(314));

    QPushButton** buttons[] = {&m_add, &m_start, &m_pause, &m_remove, &m_detail};
    const char* names[] = {"add", "start", "pause", "remove", "detail"};
    for (int i = 0; i < 5; ++i) {
        auto* button = new QPushButton(this);
        button->setObjectName(QString::fromLatin1(names[i]));
        button->setAutoDefault(false);
        button->setGeometry(Dx(3 + 45 * i), Dy(3), Dx(37), Dy(17));
        *buttons[i] = button;
    }
    // Enter adds, wherever the focus is.
    m_add->setDefault(true);
    connect(m_add, &QPushButton::clicked, this, &CParvexDlg::OnAdd);
    connect(m_start, &QPushButton::clicked, this, &CParvexDlg::OnStart);
    connect(m_pause, &QPushButton::clicked, this, &CParvexDlg::OnPause);
    connect(m_remove, &QPushButton::clicked, this, &CParvexDlg::OnRemove);
    connect(m_detail, &QPushButton::clicked, this, &CParvexDlg::OnDetail);

    m_language = new QComboBox(this);
    m_language->setObjectName(QStringLiteral("language"));
    for (const char* item : kLanguageItems) {
        m_language->addItem(QString::fromUtf8(item));
    }
    m_language->setCurrentIndex(GetLanguageIndex());
    m_language->resize(Dx(53) + 24, m_add->height());
    connect(m_language, &QComboBox::activated, this, &CParvexDlg::OnLanguageSelected);

    // No system menu to extend here: the about box is on F1 and the window's context menu.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CParvexDlg::ShowAbout);

    m_panel = new CSubDlgTaskList(this);
    m_panel->setObjectName(QStringLiteral("taskList"));
    m_panel->SetTaskSource(m_tracker);
    // Tasks left from the last run start once the tracker's snapshot has filled the list.
    connect(m_panel, &CSubDlgTaskList::snapshotApplied, this, &CParvexDlg::StartEveryTask,
            Qt::SingleShotConnection);
    if (m_tracker) {
        m_tracker->AddWindow(m_panel);
    }
    RefreshTexts();
}

CParvexDlg::~CParvexDlg() = default;

int CParvexDlg::Run() {
    show();
    raise();
    activateWindow();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    return result();
}

void CParvexDlg::RefreshTexts() {
    setWindowTitle(GetLangText(kCaptionText));
    QPushButton* buttons[] = {m_add, m_start, m_pause, m_remove, m_detail};
    for (int i = 0; i < 5; ++i) {
        buttons[i]->setText(GetLangText(kAddText + i));
    }
    m_panel->Retranslate();
    if (CEngineBridge* bridge = m_bridge ? m_bridge : CEngineBridge::Instance()) {
        for (const QString& id : m_panel->GetFailedTaskIds()) {
            bridge->StartTask(id);
        }
    }
    CDetailDlgManager::Instance().RetranslateAll();
}

void CParvexDlg::StartEveryTask() {
    CEngineBridge* bridge = m_bridge ? m_bridge : CEngineBridge::Instance();
    if (!bridge) {
        return;
    }
    for (const QString& id : m_panel->GetAllTaskIds()) {
        bridge->StartTask(id);
    }
}

void CParvexDlg::OnAdd() {
    CAddDlg add(this, m_bridge);
    if (add.exec() != QDialog::Accepted) {
        return;
    }
    CSelectFile select(add.ServiceAddress(), add.DeliveryCode(), add.AccessToken(), this, m_bridge);
    if (select.exec() != QDialog::Accepted || !m_tracker) {
        return;
    }
    QStringList problems;
    for (const AddedTask& added : m_tracker->AddDownloadTasks(
             select.Selection(), select.SaveFolder(), add.AccessToken(), add.Password())) {
        if (added.errorCode != 0 || added.taskId.isEmpty()) {
            problems << AddFailureText(added);
        }
    }
    // A picked item that got no task must not vanish without a word.
    if (!problems.isEmpty()) {
        ShowMessage(this, problems.join(QLatin1Char('\n')));
    }
}

void CParvexDlg::OnStart() {
    if (CEngineBridge* bridge = m_bridge ? m_bridge : CEngineBridge::Instance()) {
        for (const QString& id : m_panel->GetSelectedTaskIds()) {
            bridge->StartTask(id);
        }
    }
}

void CParvexDlg::OnPause() {
    if (CEngineBridge* bridge = m_bridge ? m_bridge : CEngineBridge::Instance()) {
        for (const QString& id : m_panel->GetSelectedTaskIds()) {
            bridge->PauseTask(id);
        }
    }
}

void CParvexDlg::OnRemove() {
    m_panel->DeleteSelected(m_bridge);
}

void CParvexDlg::OnDetail() {
    CDetailDlgManager& details = CDetailDlgManager::Instance();
    bool opened = false;
    for (const CTaskViewInfo& record : m_panel->GetSelectedRecords()) {
        if (record.isFolder) {
            details.OpenDetails(record);
            opened = true;
        }
    }
    if (!opened) {
        ShowMessage(this, GetLangText(kNoFolderText));
    }
}

void CParvexDlg::OnLanguageSelected(int item) {
    const int index =
        m_language->itemText(item).compare(QString::fromUtf8(kLanguageItems[kLanguageChinese]),
                                           Qt::CaseInsensitive) == 0
            ? kLanguageChinese
            : kLanguageEnglish;
    if (index == GetLanguageIndex()) {
        return;
    }
    SwitchLanguage(index);
    if (CEngineBridge* bridge = m_bridge ? m_bridge : CEngineBridge::Instance()) {
        bridge->SetEngineLanguage();
    }
    RefreshTexts();
}

void CParvexDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CParvexDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    m_language->move(width() - 3 - m_language->width(), 3);
    m_panel->setGeometry(0, kPanelTop, width(), std::max(height() - kPanelTop, 0));
}

void CParvexDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(CAboutDlg::kMenuText), this, &CParvexDlg::ShowAbout);
    menu.exec(event->globalPos());
}
