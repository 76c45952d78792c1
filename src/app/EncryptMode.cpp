#include "app/EncryptMode.h"

#include "config/Crypt.h"
#include "config/PasswordStore.h"
#include "errors/Errors.h"

#include <iostream>

int RunEncryptMode(const std::wstring& iniName, const std::wstring& password)
{
    std::wstring storedForm;
    try {
        const utils::Crypt cipher;
        storedForm = cipher.Encrypt(password);
    } catch (const Errors::CCryptError&) {
        std::cout << "Error: Cannot encrypt the password \n";
        return 0;
    }
    // A script reads the exit code: only a password that is really in the file counts as a success.
    if (!StoreEncryptedPassword(iniName, storedForm)) {
        return 0;
    }
    std::cout << "Encrypted successfully\n";
    return 1;
}
