// The progress list: its cell operations, check boxes with the header's check-all box, and the
// drawing of progress cells checked on grabbed images.
#include "views/x_list_ctrl.h"
#include "views/x_list_painter.h"

#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class XListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_list = std::make_unique<CXListCtrl>();
        m_list->InsertColumn(0, QString(), Qt::AlignLeft, 30);
        m_list->InsertColumn(1, "Name", Qt::AlignLeft, 200);
        m_list->InsertColumn(2, "Progress", Qt::AlignLeft, 200);
        m_list->resize(460, 200);
    }

    void AddCheckedRows(int count) {
        m_list->SetHeaderCheckbox(0, header_check::kUnchecked);
        for (int i = 0; i < count; ++i) {
            const int row = m_list->InsertItem(i, QString());
            m_list->SetItemText(row, 1, QString("row %1").arg(i));
            m_list->SetCheckbox(row, 0, 0);
        }
    }

    QPoint CellCentre(int row, int column) const {
        return m_list->visualRect(m_list->model()->index(row, column)).center();
    }

    void Click(int row, int column) {
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, CellCentre(row, column));
    }

    QImage Grab() {
        m_list->show();
        return m_list->grab().toImage();
    }

    std::unique_ptr<CXListCtrl> m_list;
};

TEST_F(XListCtrlTest, RowsAreThirtyTwoPixelsHigh) {
    AddCheckedRows(2);
    m_list->show();
    EXPECT_EQ(m_list->visualRect(m_list->model()->index(1, 1)).height(), CXListCtrl::kRowHeight);
}

TEST_F(XListCtrlTest, OperationsOnIndicesOutsideTheListDoNothing) {
    AddCheckedRows(2);
    // Cell operations: a row or a column outside the list.
    const std::function<bool(CXListCtrl&, int, int)> cellOperations[] = {
        [](CXListCtrl& l, int r, int c) { return l.SetItemText(r, c, "x"); },
        [](CXListCtrl& l, int r, int c) { return l.SetItemToolTipText(r, c, "x"); },
        [](CXListCtrl& l, int r, int c) { return l.SetItemImage(r, c, 3); },
        [](CXListCtrl& l, int r, int c) { return l.SetCheckbox(r, c, 1); },
        [](CXListCtrl& l, int r, int c) { return l.SetProgress(r, c); },
        [](CXListCtrl& l, int r, int c) { return l.UpdateProgress(r, c, 50, "a", "b"); },
        [](CXListCtrl& l, int r, int c) { return l.DeleteProgress(r, c); },
    };
    const std::pair<int, int> outside[] = {{-1, 1}, {2, 1}, {0, -1}, {0, 3}};
    for (const auto& operation : cellOperations) {
        for (auto [row, column] : outside) {
            EXPECT_FALSE(operation(*m_list, row, column)) << row << "," << column;
        }
    }
    for (int row : {-1, 2}) {
        EXPECT_FALSE(m_list->SetItemData(row, 7)) << row;
        EXPECT_FALSE(m_list->SetEnabled(row, false)) << row;
        EXPECT_FALSE(m_list->DeleteItem(row)) << row;
    }
    EXPECT_EQ(m_list->GetItemCount(), 2);
    EXPECT_EQ(m_list->GetCheckbox(5, 0), -1);
    EXPECT_EQ(m_list->GetItemText(-1, 0), QString());
    EXPECT_EQ(m_list->GetItemData(9), 0u);
    EXPECT_EQ(m_list->Cell(0, 3), nullptr);
    EXPECT_EQ(m_list->FindItemByData(7), -1);
}

TEST_F(XListCtrlTest, UserDataFindsItsRowAfterInsertionsBefore) {
    AddCheckedRows(2);
    m_list->SetItemData(1, 42);
    m_list->InsertItem(0, "first");
    EXPECT_EQ(m_list->FindItemByData(42), 2);
    m_list->DeleteItem(0);
    EXPECT_EQ(m_list->FindItemByData(42), 1);
}

TEST_F(XListCtrlTest, TooltipIsCutTo79Characters) {
    AddCheckedRows(1);
    m_list->SetItemToolTipText(0, 1, QString(100, QChar(0x6587))); // wide characters count once
    EXPECT_EQ(m_list->GetItemToolTipText(0, 1), QString(79, QChar(0x6587)));
    EXPECT_EQ(m_list->model()->index(0, 1).data(Qt::ToolTipRole).toString().size(), 79);
}

TEST_F(XListCtrlTest, ClickTogglesTheBoxNotifiesAndKeepsTheHeaderBoxInStep) {
    AddCheckedRows(2);
    m_list->show();
    QSignalSpy clicked(m_list.get(), &CXListCtrl::checkboxClicked);

    Click(0, 0);
    EXPECT_EQ(m_list->GetCheckbox(0, 0), 1);
    EXPECT_EQ(m_list->GetHeaderCheckbox(0), header_check::kUnchecked);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toInt(), 0);
    EXPECT_EQ(clicked[0][1].toInt(), 0);
    EXPECT_TRUE(m_list->IsModified());
    EXPECT_TRUE(m_list->Cell(0, 0)->modified);

    Click(1, 0); // the last unchecked row
    EXPECT_EQ(m_list->GetHeaderCheckbox(0), header_check::kChecked);
    Click(0, 0);
    EXPECT_EQ(m_list->GetCheckbox(0, 0), 0);
    EXPECT_EQ(m_list->GetHeaderCheckbox(0), header_check::kUnchecked);

    // A click elsewhere in the row selects it without toggling.
    Click(1, 1);
    EXPECT_EQ(m_list->GetCheckbox(1, 0), 1);
    EXPECT_EQ(m_list->GetSelectedRows(), std::vector<int>{1});
}

TEST_F(XListCtrlTest, HeaderBoxChecksAndClearsEveryRow) {
    AddCheckedRows(3);
    m_list->InsertItem(3, "no box"); // a row without a box keeps none
    m_list->show();
    QHeaderView* header = m_list->header();
    const QPoint centre(header->sectionViewportPosition(0) + header->sectionSize(0) / 2,
                        header->height() / 2);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(m_list->GetHeaderCheckbox(0), header_check::kChecked);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(m_list->GetCheckbox(row, 0), 1) << row;
    }
    EXPECT_EQ(m_list->GetCheckbox(3, 0), -1);

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(m_list->GetHeaderCheckbox(0), header_check::kUnchecked);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(m_list->GetCheckbox(row, 0), 0) << row;
    }
}

TEST_F(XListCtrlTest, ClickOnADisabledRowNeitherSelectsNorToggles) {
    AddCheckedRows(2);
    m_list->SetEnabled(1, false);
    m_list->show();
    Click(1, 0);
    Click(1, 1);
    EXPECT_EQ(m_list->GetCheckbox(1, 0), 0);
    EXPECT_TRUE(m_list->GetSelectedRows().empty());
}

TEST_F(XListCtrlTest, ProgressCellKeepsItsStateUntilDeleted) {
    AddCheckedRows(1);
    m_list->SetItemText(0, 2, "Pause");
    m_list->SetProgress(0, 2);
    m_list->UpdateProgress(0, 2, 40, "1.00 MB/S", "Remain：00:00:05");
    m_list->SetProgress(0, 2); // already one: keeps its percent
    EXPECT_EQ(m_list->Cell(0, 2)->percent, 40);
    EXPECT_EQ(ProgressBarText(*m_list->Cell(0, 2)), "40%");
    m_list->DeleteProgress(0, 2);
    EXPECT_FALSE(m_list->Cell(0, 2)->progressShown);
    EXPECT_EQ(m_list->Cell(0, 2)->percent, 0);
    EXPECT_EQ(m_list->GetItemText(0, 2), "Pause");
}

// Colour of the pixel `fraction` across the bar of a progress cell, halfway down the bar.
QColor BarPixel(const QImage& image, const QRect& cell, double fraction) {
    const int left = cell.left() + 4;
    const int right = cell.right() - 4;
    const int x = left + static_cast<int>((right - left) * fraction);
    const int y = cell.top() + 3 + (cell.height() / 2 - 3) / 2;
    return image.pixelColor(x, y);
}

TEST_F(XListCtrlTest, ProgressBarIsFilledGreenOverItsPercent) {
    AddCheckedRows(3);
    const int percents[] = {0, 50, 100};
    for (int row = 0; row < 3; ++row) {
        m_list->SetProgress(row, 2);
        m_list->UpdateProgress(row, 2, percents[row], "512 KB/S", "Remain：00:01:00");
    }
    const QImage image = Grab();
    const QPoint offset = m_list->viewport()->mapTo(m_list.get(), QPoint(0, 0));
    const auto cell = [&](int row) {
        return m_list->visualRect(m_list->model()->index(row, 2)).translated(offset);
    };

    // 0 %: a white bar with no text in it.
    for (double at : {0.05, 0.5, 0.95}) {
        EXPECT_EQ(BarPixel(image, cell(0), at), QColor(Qt::white)) << at;
    }
    // 50 %: green on the left, white on the right (clear of the centred text).
    EXPECT_EQ(BarPixel(image, cell(1), 0.1), kProgressGreen);
    EXPECT_EQ(BarPixel(image, cell(1), 0.9), QColor(Qt::white));
    // 100 %: green to the end.
    EXPECT_EQ(BarPixel(image, cell(2), 0.05), kProgressGreen);
    EXPECT_EQ(BarPixel(image, cell(2), 0.97), kProgressGreen);
    // The bar keeps to the upper half: the lower half is the cell's background.
    const QRect lower = cell(2);
    EXPECT_NE(image.pixelColor(lower.left() + lower.width() / 2, lower.bottom() - 1),
              kProgressGreen);
}

TEST_F(XListCtrlTest, CheckedBoxIsFramedBlueWithAGreenMark) {
    AddCheckedRows(1);
    m_list->SetCheckbox(0, 0, 1);
    const QImage image = Grab();
    const QPoint offset = m_list->viewport()->mapTo(m_list.get(), QPoint(0, 0));
    const QRect cell = m_list->visualRect(m_list->model()->index(0, 0)).translated(offset);
    const QPoint box(cell.left() + (cell.width() - kCheckBoxSize) / 2,
                     cell.top() + (cell.height() - kCheckBoxSize) / 2);
    EXPECT_EQ(image.pixelColor(box), kCheckFrame);
    EXPECT_EQ(image.pixelColor(box + QPoint(kCheckBoxSize - 1, kCheckBoxSize - 1)), kCheckFrame);
    EXPECT_EQ(image.pixelColor(box + QPoint(9, 4)), kCheckMark); // first stroke
}

} // namespace
