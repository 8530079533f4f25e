// Reading back the uninstaller's reports, which carry their document in Base64.
#pragma once

#include <string>

// Standard alphabet, decoding stops at "="; empty when a character is not
// Base64 (a report that is not one then never equals the expected document).
std::string DecodeBase64(const std::string& text);
