#pragma once

#include <string>
#include <vector>

// The extra command line split into arguments as the child's runtime splits it (quotes removed, backslash rules).
std::vector<std::wstring> SplitChildArguments(const std::wstring& korvelCmdLine);

// False, with the refusal on the console, when an argument is one of the switches the tool gives the child itself
// or one that would undo the cut-over, in any case.
bool CheckChildSwitches(const std::wstring& korvelCmdLine);
