#pragma once

#include <string>

class CSyncMyLog;

// Information lines are written only while an entry named "Information" exists in the log
// folder at start-up; the level otherwise lets only error lines through.
int LogLevelForFolder(const std::string& logFolder);

// Creates the application's log and starts its writer: file parvex.log in the log folder, the
// level from the "Information" marker, the line name "Parvex". Idempotent.
CSyncMyLog* OpenAppLog();

// The application's log, or nullptr before OpenAppLog.
CSyncMyLog* GetAppLog();

// Normal exit: writes every queued line and ends the writer. The log object stays valid.
void CloseAppLog();
