#pragma once

#include <string>

// Enciphers the password and stores it as the configuration file's "DCPassword"; returns the exit code.
int RunEncryptMode(const std::wstring& iniName, const std::wstring& password);
