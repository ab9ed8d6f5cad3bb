#pragma once

#include "cli/cli_options.h"

class CCliSession;

// The commands of parvex-cli; each returns the process's exit status.
int RunList(CCliSession& session, const CliOptions& options);
int RunGet(CCliSession& session, const CliOptions& options);
int RunStatus(CCliSession& session);
int RunResume(CCliSession& session, const CliOptions& options);
int RunPause(CCliSession& session, const CliOptions& options);
int RunRemove(CCliSession& session, const CliOptions& options);
