#pragma once

#include <QDialog>

// The program's icon, its name and version, and OK. Not translated.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kMenuText = "关于 Parvex(&A)...";
    static constexpr const char* kVersionLine = "链接下载工具，1.0.0.0";

    explicit CAboutDlg(QWidget* parent = nullptr);
};
