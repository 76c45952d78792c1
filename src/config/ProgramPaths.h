#pragma once

#include <string>

// The directory of the running executable, without a trailing separator; empty when the path has none.
std::wstring GetProgramDirectory();

// The configuration file's full path: an absolute name as typed, any other name beside the executable.
std::wstring ResolveConfigurationPath(const std::wstring& name);
