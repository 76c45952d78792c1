#include "env/OutlookCheck.h"

#include "errors/Errors.h"

#include <msi.h>

#include <string>

bool IsOutlook2010x64Installed()
{
    try {
        const std::wstring category = L"{1E77DE88-BCAB-4C37-B9E5-073AF52DFD7A}";
        const std::wstring qualifier = L"outlook.x64.exe";
        // Only the outcome is asked for, not the path.
        return ::MsiProvideQualifiedComponentW(category.c_str(), qualifier.c_str(), INSTALLMODE_DEFAULT, nullptr,
                                               nullptr) == ERROR_SUCCESS;
    } catch (const Errors::CError&) {
        return false;
    }
}
