#pragma once

#include <string>
#include <string_view>

// Protection of stored secrets (link passwords) bound to this computer: AES-256-GCM with a key
// derived from the machine id. Both forms are Base64 text.

// The text protected for this computer, as Base64. When protection is not possible (no machine
// id), the Base64 of the plain UTF-8 bytes.
std::string ProtectText(std::string_view text);

// The text that ProtectText produced on this computer. Anything else (another computer, a value
// stored unprotected, damaged data) gives its Base64-decoded bytes unchanged; text that is not
// Base64 gives empty text.
std::string UnprotectText(std::string_view text);

// Reads the machine id from another file (tests); empty restores the system's file.
void SetMachineIdPathForTesting(std::string path);
