#pragma once

#include <string>

// Messages of the download pipeline in the language the engine is set to.

// The service refused the file or folder: "No download permissions".
std::string NoDownloadPermissionText();
// A write into a temporary file failed and the platform has no text for it.
std::string WriteFailedText();
