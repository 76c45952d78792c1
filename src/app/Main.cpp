#include "app/RunDriver.h"

int wmain(int argc, wchar_t* argv[])
{
    return RunBrisklet(argc, argv);
}
