#pragma once

#include <string>

// The engine's own folders and files hold the links' access tokens and protected passwords:
// only the user may read them. Folders are 0700, files 0600; ones made by an earlier version
// are tightened when met.

// Creates the folder (and any missing parent, private too) or tightens the existing one. False
// when it is not a folder afterwards.
bool EnsurePrivateFolder(const std::string& folder);
// Creates the file empty when missing, else tightens it; a symbolic link is left alone.
void PreparePrivateFile(const std::string& path);
