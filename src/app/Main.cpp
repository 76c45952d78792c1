#include "app/RunDriver.h"

#include "errors/Console.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>
#include <new>

int wmain(int argc, wchar_t* argv[])
{
    const Util::CLineFlushedConsole console(std::cout);
    try {
        return RunBrisklet(argc, argv);
    } catch (const Errors::CError& error) {
        std::cout << "Error: The run stopped on an unexpected error. Error = " << HexCode(error.GetCode()) << "\n";
    } catch (const std::bad_alloc&) {
        std::cout << "Error: The run stopped: out of memory\n";
    } catch (const std::exception&) {
        std::cout << "Error: The run stopped on an unexpected error\n";
    }
    return unexpectedErrorExitCode;
}
