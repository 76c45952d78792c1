#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace utils {

// Enciphers the directory password into the hexadecimal text that the configuration file stores, and back.
// Every copy of the tool derives the same key from one built-in passphrase, so any copy reads what any copy
// wrote: this hides the password from a casual reader of the file, it does not protect it from anyone who
// has the tool. Failures raise Errors::CCryptError.
class Crypt {
public:
    // Acquires the provider and derives the key; raises E_FAIL when no key results.
    Crypt();
    virtual ~Crypt();

    Crypt(const Crypt&) = delete;
    Crypt& operator=(const Crypt&) = delete;

    // Upper-case hexadecimal, two digits per cipher byte; never empty.
    std::wstring Encrypt(const std::wstring& password) const;
    // Accepts either case of hexadecimal digit; raises E_FAIL for a text that cannot be the stored form.
    std::wstring Decrypt(const std::wstring& storedForm) const;

private:
    void ReleaseHandles() noexcept;

    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    HCRYPTPROV provider = 0;
    // Characters from the runtime's rand() enciphered ahead of the password; Decrypt drops them again.
    const int prefixLength = 2;
};

} // namespace utils
