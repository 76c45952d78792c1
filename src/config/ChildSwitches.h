#pragma once

#include <string>

// False, with the refusal on the console, when an argument of the extra command line, split as the child splits
// it, is one of the switches the tool gives the child itself or one that would undo the cut-over, in any case, or
// when the line ends inside quotes.
bool CheckChildSwitches(const std::wstring& korvelCmdLine);
