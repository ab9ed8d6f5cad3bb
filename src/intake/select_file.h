#pragma once

#include "intake/link_item.h"

#include <QDialog>
#include <QString>

#include <map>
#include <memory>
#include <set>
#include <vector>

class CEngineBridge;
class CTreeWalkThread;
class CXListCtrl;
class QEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

// The dialog that follows an accepted link: the link's contents as a list with a check box per
// row, browsable into folders and back up, and the local folder the download goes to. The whole
// link is walked in the background when the dialog opens; folders are shown from what has been
// listed already, or listed on the bridge's pool when opened. selection_check decides what OK
// means; the dialog gathers and shows.
class CSelectFile : public QDialog {
    Q_OBJECT

public:
    // A null bridge stands for CEngineBridge::Instance(), taken when first needed.
    CSelectFile(QString serviceAddress, QString deliveryCode, QString accessToken,
                QWidget* owner = nullptr, CEngineBridge* bridge = nullptr);
    ~CSelectFile() override;

    // After OK: the checked items in row order (without children) and the folder to save to.
    const std::vector<LinkItem>& Selection() const { return m_selection; }
    // The remembered save folder until OK, then the accepted one.
    QString SaveFolder() const { return m_savePath; }

    // From opening until the link's tree walk has delivered its listing (or the dialog closed).
    bool IsLoading() const { return m_walk != nullptr; }

    // Closing gives up the walk and every listing still running: a closed dialog never acts on
    // them. Showing it again walks the link anew unless it has been listed.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    CEngineBridge* Bridge();
    void StartWalk();
    // Asks the walk to stop; one still in a request is left to the bridge's pool.
    void RetireWalk();

    void OnTreeWalk(ListResult& result);
    void OnFolderListed(ListResult& result);

    // A single row without check box that holds `text` in its name cell, at "/".
    void ShowNotice(const QString& text);
    void ShowRootLevel();
    void ShowFolder(const QString& path, const std::vector<LinkItem>& items);
    void SetCurrentPath(const QString& path);

    void OpenRow(int row);
    void GoUp();
    void Browse();
    void Confirm();

    void LayOut();

    CEngineBridge* m_bridge;
    const QString m_serviceAddress;
    const QString m_deliveryCode;
    const QString m_token;

    QLineEdit* m_currentPath;
    QPushButton* m_up;
    CXListCtrl* m_items;
    QLabel* m_saveLabel;
    QLineEdit* m_saveFolder;
    QToolButton* m_browse;
    QPushButton* m_ok;
    QPushButton* m_cancel;

    std::unique_ptr<CTreeWalkThread> m_walk;
    bool m_listed = false;                 // the tree walk delivered the root
    LinkItem m_root;                       // the link's own item, without children
    LinkItem m_allItems;                   // every item of the link, as children
    std::map<QString, LinkItem> m_folders; // listed folders by lower-cased path
    std::set<QString> m_listing;           // lower-cased paths of folders being listed
    std::vector<LinkItem> m_rowItems;      // the item of each row, without children

    std::vector<LinkItem> m_selection;
    QString m_savePath;
};
