#pragma once

#include <string>

// The per-user data folders. Every call creates the missing levels of the folder it returns;
// a failed creation is not reported (later writes into the folder fail where they happen).
//
// Root: $PARVEX_HOME when set, else $XDG_DATA_HOME, else ~/.local/share.
std::string GetDataRoot();
std::string GetVendorDataFolder(); // <root>/Varnok/VarnokData3
std::string GetAppDataFolder();    // <vendor>/Parvex: settings, log folder, engine databases
std::string GetLogFolder();        // <app>/Log
std::string GetSettingsFilePath(); // <app>/Parvex.xml
std::string GetLogFilePath();      // <log>/parvex.log

// Makes `folder` the application data folder instead of <vendor>/Parvex (the command-line
// front end's --data-dir); a relative folder is taken from the current one. Set it before any
// other thread runs; an empty text restores the default.
void SetAppDataFolderOverride(const std::string& folder);
