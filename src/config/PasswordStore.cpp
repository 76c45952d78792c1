#include "config/PasswordStore.h"

#include "config/IniFile.h"
#include "config/ProgramPaths.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>

namespace {

const wchar_t Section[] = L"AD";
const wchar_t Key[] = L"DCPassword";

// The platform reports some names it cannot take (too long, devices) as written: only what the file holds counts.
bool Holds(const IniFile& file, const std::wstring& storedForm)
{
    try {
        return file.ReadStoredValue(Section, Key) == storedForm;
    } catch (const Errors::CError&) {
        return false;
    }
}

// A failure leaves the file with what it held.
bool Store(const IniFile& file, const std::wstring& storedForm)
{
    // A section the loader could no longer read would lose the whole file, not only the password.
    if (!file.CanHold(Section, Key, storedForm)) {
        return false;
    }
    const std::optional<std::wstring> previous = file.ReadStoredValue(Section, Key);
    file.WriteString(Section, Key, storedForm);
    if (Holds(file, storedForm)) {
        return true;
    }
    file.WriteString(Section, Key, previous);
    return false;
}

} // namespace

bool StoreEncryptedPassword(const std::wstring& iniName, const std::wstring& storedForm)
{
    std::string shownPath;
    bool stored = false;
    try {
        const std::wstring path = ResolveConfigurationPath(iniName);
        shownPath = ToNarrow(path);
        stored = Store(IniFile(path, false), storedForm);
    } catch (const Errors::CError&) {
    }
    if (!stored) {
        std::cout << "Error: Cannot write the ciphered password to the ini-file " << shownPath << "\n";
        return false;
    }
    std::cout << "Info: Ciphered password written to the ini-file " << shownPath << "\n";
    return true;
}
