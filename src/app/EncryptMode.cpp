#include "app/EncryptMode.h"

int RunEncryptMode(const std::wstring&, const std::wstring&)
{
    return 0;
}
