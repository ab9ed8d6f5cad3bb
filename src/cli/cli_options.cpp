#include "cli/cli_options.h"

#include "app/lang_text.h"

namespace {

using Command = CliOptions::Command;

Command CommandFromWord(const QString& word) {
    if (word == "list") {
        return Command::kList;
    }
    if (word == "get") {
        return Command::kGet;
    }
    if (word == "status") {
        return Command::kStatus;
    }
    if (word == "resume") {
        return Command::kResume;
    }
    if (word == "pause") {
        return Command::kPause;
    }
    if (word == "remove") {
        return Command::kRemove;
    }
    return Command::kNone;
}

// Which options each command takes beyond the global ones.
bool TakesLinkOptions(Command command) {
    return command == Command::kList || command == Command::kGet;
}

} // namespace

CliUsageError ParseCliOptions(const QStringList& arguments, CliOptions& options) {
    QStringList operands;
    bool seenPassword = false;
    bool seenTo = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const auto value = [&](QString& out) {
            if (i + 1 >= arguments.size()) {
                return false;
            }
            out = arguments[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--insecure") {
            options.insecure = true;
        } else if (arg == "--data-dir" || arg == "--lang" || arg == "--ca-file" ||
                   arg == "--password" || arg == "--to" || arg == "--select") {
            QString text;
            if (!value(text)) {
                return {lang_text::kCliMissingValue, arg};
            }
            if (arg == "--data-dir") {
                options.dataDir = text;
            } else if (arg == "--lang") {
                if (text != "en" && text != "cn") {
                    return {lang_text::kCliBadLanguage, text};
                }
                options.language = text;
            } else if (arg == "--ca-file") {
                options.caFile = text;
            } else if (arg == "--password") {
                options.password = text;
                options.hasPassword = true;
                seenPassword = true;
            } else if (arg == "--to") {
                options.saveFolder = text;
                seenTo = true;
            } else {
                options.selections.append(text);
            }
        } else if (arg.startsWith("--")) {
            return {lang_text::kCliUnknownArgument, arg};
        } else {
            operands.append(arg);
        }
    }
    if (options.help || options.version) {
        return {};
    }
    if (operands.isEmpty()) {
        return {lang_text::kCliMissingCommand, {}};
    }
    options.command = CommandFromWord(operands.front());
    if (options.command == Command::kNone) {
        return {lang_text::kCliUnknownCommand, operands.front()};
    }
    operands.removeFirst();

    if (!TakesLinkOptions(options.command) && seenPassword) {
        return {lang_text::kCliUnknownArgument, "--password"};
    }
    if (options.command != Command::kGet && (seenTo || !options.selections.isEmpty())) {
        return {lang_text::kCliUnknownArgument, seenTo ? QString("--to") : QString("--select")};
    }
    switch (options.command) {
    case Command::kList:
    case Command::kGet:
        if (operands.isEmpty()) {
            return {lang_text::kCliMissingLink, {}};
        }
        options.link = operands.takeFirst();
        break;
    case Command::kPause:
    case Command::kRemove:
        if (operands.isEmpty()) {
            return {lang_text::kCliMissingTaskId, {}};
        }
        options.taskIds.append(operands.takeFirst());
        break;
    case Command::kResume:
        options.taskIds = operands;
        operands.clear();
        break;
    case Command::kStatus:
    case Command::kNone:
        break;
    }
    if (!operands.isEmpty()) {
        return {lang_text::kCliUnknownArgument, operands.front()};
    }
    return {};
}
