#pragma once

#include <QDialog>
#include <QString>

class CEngineBridge;
class QEvent;
class QLineEdit;
class QPushButton;
struct LinkCheck;

// The Add command's dialog: a share link's address and, for a protected link, its password.
// OK has the service check the link on a thread of the bridge's pool; link_confirm decides what
// the outcome means, the dialog only shows it. Once accepted it holds what a download needs,
// the password that opened the link included: its tasks keep it (protected) to open the link
// again when the access token expires.
class CAddDlg : public QDialog {
    Q_OBJECT

public:
    // A null bridge stands for CEngineBridge::Instance(), taken when OK is pressed.
    explicit CAddDlg(QWidget* owner = nullptr, CEngineBridge* bridge = nullptr);

    QString ServiceAddress() const { return m_serviceAddress; }
    QString DeliveryCode() const { return m_deliveryCode; }
    QString AccessToken() const { return m_accessToken; }
    QString Password() const { return m_openedWith; }

    // From OK until the check's outcome is shown or the dialog is closed.
    bool IsBusy() const { return m_busy; }

    // Closing while a check runs drops its result: a closed dialog never acts on it.
    void done(int result) override;

protected:
    void customEvent(QEvent* event) override;

private:
    void StartCheck();
    void SetBusy(bool busy);
    void ShowOutcome(const LinkCheck& check);

    CEngineBridge* m_bridge;
    QLineEdit* m_linkAddress;
    QLineEdit* m_password;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_busy = false;
    QString m_serviceAddress;
    QString m_deliveryCode;
    QString m_accessToken;
    QString m_openedWith;
};
