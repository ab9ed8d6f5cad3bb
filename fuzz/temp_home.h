#pragma once

#include <string>

// Points PARVEX_HOME at a fresh temporary folder for the life of the process (removed at
// exit), so a target that reaches the settings or the data folders never touches the user's.
// Call it from LLVMFuzzerInitialize, before anything reads the data folders.
const std::string& UseTemporaryHome();
