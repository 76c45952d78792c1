#pragma once

#include <string>

// Writes the enciphered password into the configuration file as "DCPassword" of section "AD" and says on
// the console where it went or that it could not be written. True when it was written.
bool StoreEncryptedPassword(const std::wstring& iniName, const std::wstring& storedForm);
