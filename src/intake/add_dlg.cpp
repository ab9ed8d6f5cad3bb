#include "intake/add_dlg.h"

#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "engine/parvex_thread.h"
#include "intake/link_confirm.h"
#include "tracking/front_events.h"
#include "tracking/post_targets.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>
#include <utility>

namespace {

// Texts of the dialog's own controls; the messages come from link_confirm.
constexpr int kCaptionText = 23;
constexpr int kLinkAddressText = 24;
constexpr int kPasswordText = 25;
constexpr int kPasswordHintText = 26;

// About 316 × 84 dialog units: the layout grows beyond it where a language needs more room.
constexpr QSize kDialogSize(480, 150);

constexpr char kMsgLinkChecked[] = "parvex_msg_link_checked";

QEvent::Type LinkCheckedType() {
    return FrontEventType(kMsgLinkChecked);
}

class CLinkCheckedEvent : public QEvent {
public:
    explicit CLinkCheckedEvent(LinkCheck check)
        : QEvent(LinkCheckedType()), m_check(std::move(check)) {}

    const LinkCheck& Check() const { return m_check; }

private:
    LinkCheck m_check;
};

// The service requests of one OK, on a pool thread. It works over the transfer manager itself,
// which outlives every thread: a check the pool had to abandon at shutdown never touches a
// destroyed bridge.
class CCheckLinkAction : public CParvexThread {
public:
    CCheckLinkAction(CTovuTransMgr* mgr, QString linkAddress, QString password,
                     post_targets::Target receiver)
        : m_bridge(mgr), m_linkAddress(std::move(linkAddress)), m_password(std::move(password)),
          m_receiver(receiver) {}
    ~CCheckLinkAction() override { StopForDestruction(); }

protected:
    void Run(std::int32_t /*param*/) override {
        LinkCheck check = CheckLink(&m_bridge, m_linkAddress, m_password);
        // Shutdown asks first and then cancels the requests: a cut-short check is no refusal.
        if (IsStopRequested()) {
            return;
        }
        post_targets::Post(m_receiver, std::make_unique<CLinkCheckedEvent>(std::move(check)));
    }

private:
    CEngineBridge m_bridge; // its pool is never started
    QString m_linkAddress;
    QString m_password;
    post_targets::Target m_receiver;
};

QLabel* FieldLabel(int textNumber, QWidget* parent) {
    auto* label = new QLabel(GetLangText(textNumber), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

} // namespace

CAddDlg::CAddDlg(QWidget* owner, CEngineBridge* bridge)
    : QDialog(owner), m_bridge(bridge), m_linkAddress(new QLineEdit(this)),
      m_password(new QLineEdit(this)), m_ok(new QPushButton(GetLangText(lang_text::kOk), this)),
      m_cancel(new QPushButton(GetLangText(lang_text::kCancel), this)) {
    setWindowTitle(GetLangText(kCaptionText));
    m_linkAddress->setObjectName(QStringLiteral("linkAddress"));
    m_linkAddress->setText(QString::fromStdString(ReadSetting(kSettingDeliveryUrl, "")));
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setDefault(true);
    m_cancel->setObjectName(QStringLiteral("cancel"));

    auto* form = new QGridLayout();
    form->addWidget(FieldLabel(kLinkAddressText, this), 0, 0);
    form->addWidget(m_linkAddress, 0, 1, 1, 2);
    form->addWidget(FieldLabel(kPasswordText, this), 1, 0);
    form->addWidget(m_password, 1, 1);
    form->addWidget(new QLabel(GetLangText(kPasswordHintText), this), 1, 2);
    form->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* whole = new QVBoxLayout(this);
    whole->addLayout(form);
    whole->addStretch(1);
    whole->addLayout(buttons);
    resize(kDialogSize.expandedTo(sizeHint()));

    connect(m_ok, &QPushButton::clicked, this, &CAddDlg::StartCheck);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_linkAddress->setFocus();
}

void CAddDlg::done(int result) {
    if (m_busy) {
        // The check runs on; unregistered, whatever it posts from now on is freed unseen, and
        // what it posted already is dropped here.
        post_targets::Unregister(this);
        QCoreApplication::removePostedEvents(this, LinkCheckedType());
        SetBusy(false);
    }
    QDialog::done(result);
}

void CAddDlg::customEvent(QEvent* event) {
    if (event->type() != LinkCheckedType()) {
        QDialog::customEvent(event);
        return;
    }
    SetBusy(false);
    ShowOutcome(static_cast<CLinkCheckedEvent*>(event)->Check());
}

void CAddDlg::StartCheck() {
    if (m_busy) {
        return;
    }
    CEngineBridge* bridge = m_bridge != nullptr ? m_bridge : CEngineBridge::Instance();
    SetBusy(true);
    auto action =
        std::make_unique<CCheckLinkAction>(bridge->TransMgr(), m_linkAddress->text(),
                                           m_password->text(), post_targets::Register(this));
    CCheckLinkAction* started = action.get();
    bridge->Pool().Add(std::move(action));
    started->Start(0);
}

void CAddDlg::SetBusy(bool busy) {
    m_busy = busy;
    // Disabling the focused box hands the focus on to Cancel; as an auto-default button it would
    // take a second Enter for itself and close the dialog instead of ignoring it.
    m_cancel->setAutoDefault(!busy);
    m_ok->setEnabled(!busy);
    m_linkAddress->setEnabled(!busy);
    m_password->setEnabled(!busy);
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void CAddDlg::ShowOutcome(const LinkCheck& check) {
    const LinkConfirmResult result = FinishLinkConfirm(check);
    switch (result.outcome) {
    case ConfirmOutcome::kAccepted:
        m_serviceAddress = result.serviceAddress;
        m_deliveryCode = result.deliveryCode;
        m_accessToken = result.accessToken;
        m_openedWith = result.password;
        accept();
        return;
    case ConfirmOutcome::kCancelled:
        ShowMessage(this, result.message);
        reject();
        return;
    case ConfirmOutcome::kStayOpen:
        ShowMessage(this, result.message);
        (result.focus == ConfirmFocus::kPassword ? m_password : m_linkAddress)->setFocus();
        return;
    }
}
