#pragma once

#include <QString>
#include <QStringList>

// What parvex-cli was asked to do.
struct CliOptions {
    enum class Command { kNone, kList, kGet, kStatus, kResume, kPause, kRemove };

    Command command = Command::kNone;
    QString link;
    QString password;
    bool hasPassword = false;
    QString saveFolder; // --to; empty: the current folder
    QStringList selections;
    QStringList taskIds;
    QString dataDir;
    QString language; // "en", "cn" or empty (the settings decide)
    QString caFile;
    bool insecure = false;
    bool help = false;
    bool version = false;
};

// Why the arguments were refused: an interface text number and the argument it names.
struct CliUsageError {
    int textNumber = 0; // 0: no error
    QString argument;
};

// Options may stand anywhere; the first free word is the command and the following free words
// its operands. Help and version need no command.
CliUsageError ParseCliOptions(const QStringList& arguments, CliOptions& options);
