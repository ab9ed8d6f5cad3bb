// parvex-screenshots OUTDIR: renders the main window, the add and selection dialogs and the
// detail dialog in English and Chinese into PNG files, over an engine on a temporary data
// folder and the in-process service with the demo scenario.
#include "demo_records.h"

#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/parvex_dlg.h"
#include "app/settings.h"
#include "intake/add_dlg.h"
#include "intake/select_file.h"
#include "scenario.h"
#include "service_server.h"
#include "views/detail_dlg.h"
#include "views/file_icon_list.h"
#include "views/sub_dlg_task_list.h"
#include "views/x_list_ctrl.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr auto kShowDeadline = 10s;
constexpr auto kListingDeadline = 30s;
// Wakes the event loop while a condition that no event signals is polled.
constexpr auto kPollTick = 20ms;
// A fixed port keeps the link in the pictures the same from run to run; any free one will do.
constexpr int kPreferredPort = 47080;
constexpr char kDemoCode[] = "demo2024";
constexpr char kDemoPassword[] = "parvex";
// Rows of the demo link's folder that the selection picture shows checked.
const QStringList kCheckedNames = {QStringLiteral("summary.txt"), QStringLiteral("2024")};

constexpr int kCheckColumn = 0;
constexpr int kNameColumn = 1;

void Fail(const std::string& what) {
    std::fprintf(stderr, "parvex-screenshots: %s\n", what.c_str());
}

// Delivers events until `condition` holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    QTimer tick;
    tick.start(kPollTick);
    const QDeadlineTimer end(deadline);
    while (!condition()) {
        if (end.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets pending layout requests, delayed item layouts and repaints run.
void Settle() {
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

class Shooter {
public:
    explicit Shooter(QDir outDir) : m_outDir(std::move(outDir)) {}

    // Shows the window, waits until it is on screen and laid out, and writes it as NAME.png.
    void Shoot(QWidget& window, const QString& name) {
        window.show();
        window.raise();
        const bool exposed = WaitFor(
            [&window] {
                return window.windowHandle() != nullptr && window.windowHandle()->isExposed();
            },
            kShowDeadline);
        if (!exposed) {
            Fail(name.toStdString() + ": the window was never shown");
            m_failed = true;
            return;
        }
        Settle();
        const QString file = m_outDir.filePath(name + QStringLiteral(".png"));
        if (!window.grab().save(file, "PNG")) {
            Fail("cannot write " + file.toStdString());
            m_failed = true;
            return;
        }
        std::printf("%s\n", qPrintable(file));
    }

    void Failed(const std::string& what) {
        Fail(what);
        m_failed = true;
    }
    bool AnyFailed() const { return m_failed; }

private:
    QDir m_outDir;
    bool m_failed = false;
};

void ShootMainWindow(Shooter& shooter, CEngineBridge* bridge, const QString& lang) {
    CParvexDlg window(nullptr, bridge);
    for (const demo_records::Keyed& row : demo_records::Tasks()) {
        window.TaskList().Apply(row.key, row.record);
    }
    shooter.Shoot(window, QStringLiteral("main-window-") + lang);
}

void ShootAddDialog(Shooter& shooter, CEngineBridge* bridge, const QString& lang) {
    CAddDlg dialog(nullptr, bridge);
    shooter.Shoot(dialog, QStringLiteral("add-dialog-") + lang);
}

void ShootSelectDialog(Shooter& shooter, CEngineBridge* bridge, const QString& serviceAddress,
                       const QString& token, const QString& lang) {
    const QString name = QStringLiteral("select-dialog-") + lang;
    CSelectFile dialog(serviceAddress, QString::fromLatin1(kDemoCode), token, nullptr, bridge);
    auto* items = dialog.findChild<CXListCtrl*>(QStringLiteral("items"));
    auto* currentPath = dialog.findChild<QLineEdit*>(QStringLiteral("currentPath"));
    if (items == nullptr || currentPath == nullptr) {
        shooter.Failed(name.toStdString() + ": the dialog's list or path box is missing");
        return;
    }
    dialog.show();
    if (!WaitFor([&] { return !dialog.IsLoading(); }, kListingDeadline) ||
        items->GetCheckbox(0, kCheckColumn) < 0) {
        shooter.Failed(name.toStdString() + ": the link was not listed");
        return;
    }
    // Into the link's folder, as a double click on its row does.
    emit items->doubleClicked(items->model()->index(0, kNameColumn));
    if (!WaitFor([&] { return currentPath->text() != QStringLiteral("/"); }, kListingDeadline)) {
        shooter.Failed(name.toStdString() + ": the link's folder did not open");
        return;
    }
    for (int row = 0; row < items->GetItemCount(); ++row) {
        if (kCheckedNames.contains(items->GetItemText(row, kNameColumn))) {
            items->SetCheckbox(row, kCheckColumn, 1);
        }
    }
    shooter.Shoot(dialog, name);
}

void ShootDetailDialog(Shooter& shooter, CEngineBridge* bridge, const QString& lang) {
    CDetailDlg dialog(demo_records::DetailTask(), bridge, 500ms);
    for (int tab = CDetailDlg::kFailedTab; tab <= CDetailDlg::kInProgressTab; ++tab) {
        for (const demo_records::Keyed& row : demo_records::SubTasks()) {
            dialog.Panel(tab).Apply(row.key, row.record);
        }
    }
    const char* tabNames[] = {"error", "complete", "downloading"};
    for (int tab = CDetailDlg::kFailedTab; tab <= CDetailDlg::kInProgressTab; ++tab) {
        dialog.Tabs().setCurrentIndex(tab);
        shooter.Shoot(dialog, QStringLiteral("detail-%1-%2").arg(lang, tabNames[tab]));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: parvex-screenshots OUTDIR\n");
        return 2;
    }
    // Settings, logs and task databases go to a folder of the tool's own, never the user's.
    QTemporaryDir home;
    if (!home.isValid()) {
        Fail("cannot create a temporary folder");
        return 1;
    }
    qputenv("PARVEX_HOME", home.path().toUtf8());

    QApplication application(argc, argv);
    QDir outDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.mkpath(QStringLiteral("."))) {
        Fail("cannot create " + outDir.path().toStdString());
        return 1;
    }

    parvex_service::Scenario scenario;
    std::string error;
    if (!parvex_service::LoadScenarioFile(PARVEX_DEMO_SCENARIO, scenario, error)) {
        Fail("demo scenario: " + error);
        return 1;
    }
    parvex_service::ServiceServer service(std::move(scenario));
    if (!service.Start(kPreferredPort) && !service.Start(0)) {
        Fail("the service did not start: " + service.LastError());
        return 1;
    }
    const QString serviceAddress = QString::fromStdString(service.BaseUrl());
    const QString demoLink = serviceAddress + QStringLiteral("/link/view/") + kDemoCode;
    WriteSetting(kSettingDeliveryUrl, demoLink.toStdString());
    WriteSetting(kSettingSavePath, demo_records::kSaveFolder);

    FileIconList::Create();
    CEngineBridge* bridge = CEngineBridge::Instance();
    if (const int code = bridge->Start(); code != 0) {
        Fail("the engine did not start: " + std::to_string(code));
        return 1;
    }
    BridgeStatus status;
    const QString token = bridge->AuthenticateLink(serviceAddress, QString::fromLatin1(kDemoCode),
                                                   QString::fromLatin1(kDemoPassword), status);

    Shooter shooter(outDir);
    if (token.isEmpty()) {
        shooter.Failed("the demo link was refused: " + std::to_string(status.code) + " " +
                       status.message.toStdString());
    }
    const struct {
        int index;
        const char* code;
    } languages[] = {{kLanguageEnglish, "en"}, {kLanguageChinese, "cn"}};
    for (const auto& language : languages) {
        ApplyLanguage(language.index);
        bridge->SetEngineLanguage();
        const QString lang = QString::fromLatin1(language.code);
        ShootMainWindow(shooter, bridge, lang);
        ShootAddDialog(shooter, bridge, lang);
        if (!token.isEmpty()) {
            ShootSelectDialog(shooter, bridge, serviceAddress, token, lang);
        }
        ShootDetailDialog(shooter, bridge, lang);
    }

    CEngineBridge::Shutdown();
    service.Stop();
    FileIconList::Destroy();
    return shooter.AnyFailed() ? 1 : 0;
}
