// parvex-cli: downloads share links without a window, through the same engine bridge, link
// intake and task tracker as the windows.
#include "app/lang_text.h"
#include "app/language.h"
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/cli_session.h"

#include <QCoreApplication>

#include <cstdio>

#ifndef PARVEX_VERSION_TEXT
#define PARVEX_VERSION_TEXT "1.0.0.0"
#endif

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    CliOptions options;
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const CliUsageError error = ParseCliOptions(arguments, options);
    if (options.version && error.textNumber == 0) {
        std::printf("parvex-cli %s\n", PARVEX_VERSION_TEXT);
        return kExitDone;
    }

    CCliSession session(options);
    if (options.help && error.textNumber == 0) {
        std::fputs(GetLangText(lang_text::kCliUsage).toUtf8().constData(), stdout);
        return kExitDone;
    }
    if (error.textNumber != 0) {
        CCliSession::Complain(LangFormat(error.textNumber, error.argument.toUtf8().constData()));
        CCliSession::Complain(GetLangText(lang_text::kCliSeeHelp));
        return kExitUsage;
    }
    switch (options.command) {
    case CliOptions::Command::kList:
        return RunList(session, options);
    case CliOptions::Command::kGet:
        return RunGet(session, options);
    case CliOptions::Command::kStatus:
        return RunStatus(session);
    case CliOptions::Command::kResume:
        return RunResume(session, options);
    case CliOptions::Command::kPause:
        return RunPause(session, options);
    case CliOptions::Command::kRemove:
        return RunRemove(session, options);
    case CliOptions::Command::kNone:
        break;
    }
    return kExitUsage;
}
