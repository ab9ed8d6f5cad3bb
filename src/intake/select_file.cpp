#include "intake/select_file.h"

#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "intake/link_listing.h"
#include "intake/select_file_view.h"
#include "intake/selection_check.h"
#include "intake/tree_walk_thread.h"
#include "tracking/front_events.h"
#include "tracking/post_targets.h"
#include "views/file_icon_list.h"
#include "views/x_list_ctrl.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include <chrono>
#include <utility>

namespace {

constexpr int kCaptionText = 29;
constexpr int kUpText = 30;
constexpr int kNameText = 31;
constexpr int kSizeText = 32;
constexpr int kModifiedText = 33;
constexpr int kSaveToText = 34;
constexpr int kDownloadText = 35;

constexpr int kCheckColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kSizeColumn = 2;
constexpr int kModifiedColumn = 3;

// Wider than the original 325 dialog units (about 490 pixels), so the modified column shows its
// whole time.
constexpr QSize kDialogSize(600, 540);
constexpr QSize kMinimumSize(400, 300);

// How long closing waits for the walk to see its stop request; one still waiting for the
// service is not waited for.
constexpr std::chrono::milliseconds kWalkStopWait(50);

const QString kRootPath = QStringLiteral("/");

QEvent::Type ListResultType() {
    return FrontEventType(kMsgListResult);
}

QString FolderKey(const QString& path) {
    return path.toLower();
}

} // namespace

CSelectFile::CSelectFile(QString serviceAddress, QString deliveryCode, QString accessToken,
                         QWidget* owner, CEngineBridge* bridge)
    : QDialog(owner), m_bridge(bridge), m_serviceAddress(std::move(serviceAddress)),
      m_deliveryCode(std::move(deliveryCode)), m_token(std::move(accessToken)),
      m_currentPath(new QLineEdit(kRootPath, this)),
      m_up(new QPushButton(GetLangText(kUpText), this)), m_items(new CXListCtrl(this)),
      m_saveLabel(new QLabel(GetLangText(kSaveToText), this)), m_saveFolder(new QLineEdit(this)),
      m_browse(new QToolButton(m_saveFolder)),
      m_ok(new QPushButton(GetLangText(kDownloadText), this)),
      m_cancel(new QPushButton(GetLangText(lang_text::kCancel), this)),
      m_savePath(QString::fromStdString(ReadSetting(kSettingSavePath, ""))) {
    setWindowTitle(GetLangText(kCaptionText));
    setMinimumSize(kMinimumSize);

    m_currentPath->setObjectName(QStringLiteral("currentPath"));
    m_currentPath->setReadOnly(true);
    m_currentPath->setEnabled(false);
    m_up->setObjectName(QStringLiteral("up"));
    m_up->setEnabled(false);
    m_items->setObjectName(QStringLiteral("items"));
    m_items->SetImageList(&FileIconList::Instance());
    m_saveFolder->setObjectName(QStringLiteral("saveFolder"));
    m_saveFolder->setText(m_savePath);
    m_browse->setObjectName(QStringLiteral("browse"));
    m_browse->setText(QStringLiteral("..."));
    m_browse->setCursor(Qt::ArrowCursor);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setDefault(true);
    m_cancel->setObjectName(QStringLiteral("cancel"));

    m_items->InsertColumn(kCheckColumn, QString(), Qt::AlignLeft, 30);
    m_items->SetHeaderCheckbox(kCheckColumn, 1);
    m_items->InsertColumn(kNameColumn, GetLangText(kNameText), Qt::AlignLeft);
    m_items->InsertColumn(kSizeColumn, GetLangText(kSizeText), Qt::AlignRight);
    m_items->InsertColumn(kModifiedColumn, GetLangText(kModifiedText), Qt::AlignRight);

    // The controls keep these heights, and the label, Up and the buttons their widths.
    for (QWidget* control : {static_cast<QWidget*>(m_currentPath), static_cast<QWidget*>(m_up),
                             static_cast<QWidget*>(m_saveLabel),
                             static_cast<QWidget*>(m_saveFolder), static_cast<QWidget*>(m_ok)}) {
        control->resize(control->sizeHint());
    }
    m_saveFolder->setTextMargins(0, 0, m_browse->sizeHint().width(), 0);

    connect(m_up, &QPushButton::clicked, this, &CSelectFile::GoUp);
    connect(m_items, &CXListCtrl::doubleClicked, this,
            [this](const QModelIndex& index) { OpenRow(index.row()); });
    connect(m_browse, &QToolButton::clicked, this, &CSelectFile::Browse);
    connect(m_ok, &QPushButton::clicked, this, &CSelectFile::Confirm);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    resize(kDialogSize);
    LayOut();
}

CSelectFile::~CSelectFile() {
    post_targets::Unregister(this);
    RetireWalk();
}

void CSelectFile::done(int result) {
    // Unregistered, whatever is still on its way is freed unseen; what arrived is dropped here.
    post_targets::Unregister(this);
    QCoreApplication::removePostedEvents(this, ListResultType());
    m_listing.clear();
    RetireWalk();
    QDialog::done(result);
}

void CSelectFile::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_walk == nullptr && !m_listed) {
        StartWalk();
    }
}

void CSelectFile::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void CSelectFile::customEvent(QEvent* event) {
    if (event->type() != ListResultType()) {
        QDialog::customEvent(event);
        return;
    }
    auto* listing = static_cast<CListResultEvent*>(event);
    const std::unique_ptr<ListResult> result = listing->TakeResult();
    if (result == nullptr) {
        return;
    }
    if (listing->FromTreeWalk()) {
        OnTreeWalk(*result);
    } else {
        OnFolderListed(*result);
    }
}

CEngineBridge* CSelectFile::Bridge() {
    if (m_bridge == nullptr) {
        m_bridge = CEngineBridge::Instance();
    }
    return m_bridge;
}

void CSelectFile::StartWalk() {
    ShowNotice(GetLangText(lang_text::kLoading));
    m_walk =
        std::make_unique<CTreeWalkThread>(Bridge()->TransMgr(), m_serviceAddress, m_deliveryCode,
                                          m_token, post_targets::Register(this));
    if (!m_walk->Start(0)) {
        m_walk.reset();
        ShowNotice(ErrorMessageText(QString(), 0));
    }
}

void CSelectFile::RetireWalk() {
    if (m_walk == nullptr) {
        return;
    }
    if (!m_walk->StopAndWait(kWalkStopWait)) {
        // Still waiting for the service: the pool deletes it once it has ended, or keeps it
        // alive for good when it outlasts the pool's own stop.
        Bridge()->Pool().Add(std::move(m_walk));
    }
    m_walk.reset();
}

void CSelectFile::OnTreeWalk(ListResult& result) {
    // The walk has posted its last word; joining it is immediate.
    m_walk.reset();
    if (TreeWalkFailedAtRoot(result)) {
        ShowNotice(ErrorMessageText(result.errorMessage, result.errorCode));
        return;
    }
    m_listed = true;
    m_root = result.folder.WithoutChildren();
    m_allItems = std::move(result.allItems);
    m_folders.try_emplace(FolderKey(m_root.path), std::move(result.folder));
    ShowRootLevel();
}

void CSelectFile::OnFolderListed(ListResult& result) {
    const QString key = FolderKey(result.folder.path);
    m_listing.erase(key);
    if (result.errorCode != 0) {
        ShowMessage(this, ErrorMessageText(result.errorMessage, result.errorCode));
        return;
    }
    ShowFolder(result.folder.path, result.folder.children);
    m_folders.try_emplace(key, std::move(result.folder));
}

void CSelectFile::ShowNotice(const QString& text) {
    SetCurrentPath(kRootPath);
    m_items->DeleteAllItems();
    m_rowItems.clear();
    m_items->InsertItem(0, QString());
    m_items->SetItemText(0, kNameColumn, text);
}

void CSelectFile::ShowRootLevel() {
    ShowFolder(kRootPath, {m_root});
}

void CSelectFile::ShowFolder(const QString& path, const std::vector<LinkItem>& items) {
    SetCurrentPath(path);
    m_items->DeleteAllItems();
    m_rowItems.clear();
    m_rowItems.reserve(items.size());
    FileIconList& icons = FileIconList::Instance();
    for (const LinkItem& item : items) {
        const int row = m_items->InsertItem(m_items->GetItemCount(), QString());
        const QString name = RowName(path, item.path);
        m_items->SetItemText(row, kNameColumn, name);
        m_items->SetItemToolTipText(row, kNameColumn, name);
        m_items->SetCheckbox(row, kCheckColumn, 0);
        m_items->SetItemImage(row, kNameColumn, icons.IndexFor(name, item.isFolder));
        if (!item.isFolder) {
            m_items->SetItemText(row, kSizeColumn, item.displaySize);
        }
        m_items->SetItemText(row, kModifiedColumn, ModifiedText(item.modified));
        m_rowItems.push_back(item.WithoutChildren());
    }
}

void CSelectFile::SetCurrentPath(const QString& path) {
    m_currentPath->setText(path);
    m_up->setEnabled(path != kRootPath);
}

void CSelectFile::OpenRow(int row) {
    if (row < 0 || row >= static_cast<int>(m_rowItems.size()) || !m_rowItems[row].isFolder) {
        return;
    }
    const LinkItem item = m_rowItems[row];
    const QString key = FolderKey(item.path);
    const auto cached = m_folders.find(key);
    if (cached != m_folders.end()) {
        ShowFolder(item.path, cached->second.children);
        return;
    }
    if (!m_listing.insert(key).second) {
        return; // already being listed
    }
    post_targets::Register(this);
    Bridge()->StartFolderListing(item, this, m_token);
}

void CSelectFile::GoUp() {
    const std::optional<QString> target = UpTarget(m_currentPath->text());
    if (!target) {
        return;
    }
    if (*target == kRootPath) {
        ShowRootLevel();
        return;
    }
    const auto cached = m_folders.find(FolderKey(*target));
    if (cached == m_folders.end()) {
        // Not listed (cannot happen when browsing down): an empty level that Up can leave.
        ShowFolder(*target, {});
        return;
    }
    ShowFolder(cached->second.path, cached->second.children);
}

void CSelectFile::Browse() {
    const QString chosen = QFileDialog::getExistingDirectory(this, QString(), m_saveFolder->text());
    if (!chosen.isEmpty()) {
        m_saveFolder->setText(chosen);
    }
}

void CSelectFile::Confirm() {
    std::vector<LinkItem> picked;
    for (int row = 0; row < static_cast<int>(m_rowItems.size()); ++row) {
        if (m_items->GetCheckbox(row, kCheckColumn) == 1) {
            picked.push_back(m_rowItems[row]);
        }
    }
    const QString saveFolder = m_saveFolder->text();
    const SelectionCheck check = ConfirmSelection(picked, m_allItems, saveFolder);
    if (!check.accepted) {
        ShowMessage(this, check.message);
        if (check.focus == SelectionFocus::kItemList) {
            m_items->setFocus();
        } else if (check.focus == SelectionFocus::kSaveFolder) {
            m_saveFolder->setFocus();
        }
        return;
    }
    m_selection = std::move(picked);
    m_savePath = saveFolder;
    accept();
}

void CSelectFile::LayOut() {
    const int width = this->width();
    const int height = this->height();

    const QSize button = m_ok->size();
    const int buttonTop = height - 10 - button.height();
    m_cancel->setGeometry(width - 5 - button.width(), buttonTop, button.width(), button.height());
    m_ok->setGeometry(m_cancel->x() - 10 - button.width(), buttonTop, button.width(),
                      button.height());

    const int pathHeight = m_currentPath->height();
    const QSize up = m_up->size();
    m_up->move(width - 5 - up.width(), 10 + (pathHeight - up.height()) / 2);
    m_currentPath->setGeometry(5, 10, m_up->x() - 10 - 5, pathHeight);

    const int saveHeight = m_saveFolder->height();
    const int saveLeft = m_saveLabel->width() + 15;
    const int saveTop = buttonTop - 25 - saveHeight;
    m_saveFolder->setGeometry(saveLeft, saveTop, width - 5 - saveLeft, saveHeight);
    const int browseWidth = m_browse->sizeHint().width();
    m_browse->setGeometry(m_saveFolder->width() - browseWidth, 0, browseWidth, saveHeight);
    m_saveLabel->move(5, saveTop + (saveHeight - m_saveLabel->height()) / 2);

    const int listTop = 10 + pathHeight + 30;
    m_items->setGeometry(5, listTop, width - 10, saveTop - 10 - listTop);

    const std::array<int, 4> widths =
        ItemColumnWidths(m_items->width() - 2 * m_items->frameWidth());
    for (int column = 0; column < static_cast<int>(widths.size()); ++column) {
        m_items->setColumnWidth(column, widths[column]);
    }
}
