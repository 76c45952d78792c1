#include "config/PasswordStore.h"

#include "config/IniFile.h"
#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>

bool StoreEncryptedPassword(const std::wstring& iniName, const std::wstring& storedForm)
{
    std::string shownPath;
    bool stored = false;
    try {
        const std::wstring path = ResolveConfigurationPath(iniName);
        shownPath = ToNarrow(path);
        const IniFile file(path, false);
        file.WriteString(L"AD", L"DCPassword", storedForm);
        // The platform reports some names it cannot take (too long, devices) as written: only what the file
        // holds counts.
        stored = file.ReadStoredValue(L"AD", L"DCPassword") == storedForm;
    } catch (const Errors::CError&) {
    }
    if (!stored) {
        std::cout << "Error: Cannot write the ciphered password to the ini-file " << shownPath << "\n";
        return false;
    }
    std::cout << "Info: Ciphered password written to the ini-file " << shownPath << "\n";
    return true;
}
