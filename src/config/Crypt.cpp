#include "config/Crypt.h"

#include "errors/Errors.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace utils {

namespace {

// Built into every copy of the tool: what one copy enciphers, any other can decipher.
constexpr wchar_t Passphrase[] = L"{5D1A7C93-28B4-4e6f-A0C2-73E9F1B84D26}";
constexpr wchar_t Provider[] = L"Microsoft Enhanced Cryptographic Provider v1.0";

HCRYPTPROV AcquireProvider()
{
    for (const DWORD flags : {DWORD{0}, DWORD{CRYPT_NEWKEYSET}, DWORD{CRYPT_MACHINE_KEYSET},
                              DWORD{CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET}}) {
        HCRYPTPROV provider = 0;
        if (::CryptAcquireContextW(&provider, nullptr, Provider, PROV_RSA_FULL, flags)) {
            return provider;
        }
    }
    return 0;
}

// The code that the failed CryptoAPI call left behind (E_FAIL when it left none).
[[noreturn]] void ThrowLastCryptError()
{
    throw Errors::CCryptError(::GetLastError());
}

// Where the cipher says no more than that it failed.
[[noreturn]] void ThrowCryptFailure()
{
    throw Errors::CCryptError(0);
}

std::vector<BYTE> CodeUnitBytes(const std::wstring& text)
{
    const BYTE* const bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t));
}

std::wstring ToHex(const std::vector<BYTE>& bytes)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const BYTE byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// A character that is no hexadecimal digit counts as the last digit before it, so that no text can fail
// here; a damaged text fails in the cipher instead.
std::vector<BYTE> FromHex(const std::wstring& text)
{
    std::vector<BYTE> bytes(text.size() / 2);
    int last = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c >= L'0' && c <= L'9') {
            last = c - L'0';
        } else if (c >= L'A' && c <= L'F') {
            last = c - L'A' + 10;
        } else if (c >= L'a' && c <= L'f') {
            last = c - L'a' + 10;
        }
        bytes[i / 2] = static_cast<BYTE>(i % 2 == 0 ? last << 4 : bytes[i / 2] | last);
    }
    return bytes;
}

} // namespace

Crypt::Crypt()
{
    provider = AcquireProvider();
    // A key made from a hash that missed part of the passphrase would encipher what no other copy can read.
    const bool hashed = provider != 0 && ::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
                        ::CryptHashData(hash, reinterpret_cast<const BYTE*>(Passphrase),
                                        sizeof Passphrase - sizeof(wchar_t), 0);
    if (!hashed || !::CryptDeriveKey(provider, CALG_3DES, hash, 0, &key)) {
        ReleaseHandles();
        ThrowCryptFailure();
    }
}

Crypt::~Crypt()
{
    ReleaseHandles();
}

void Crypt::ReleaseHandles() noexcept
{
    if (key != 0) {
        ::CryptDestroyKey(key);
        key = 0;
    }
    if (hash != 0) {
        ::CryptDestroyHash(hash);
        hash = 0;
    }
    if (provider != 0) {
        ::CryptReleaseContext(provider, 0);
        provider = 0;
    }
}

std::wstring Crypt::Encrypt(const std::wstring& password) const
{
    std::wstring plain;
    for (int i = 0; i < prefixLength; ++i) {
        plain += static_cast<wchar_t>((std::rand() * 15 + 70) % 65536);
    }
    plain += password;

    std::vector<BYTE> bytes = CodeUnitBytes(plain);
    DWORD length = static_cast<DWORD>(bytes.size());
    DWORD needed = length;
    if (!::CryptEncrypt(key, 0, TRUE, 0, nullptr, &needed, 0)) {
        ThrowLastCryptError();
    }
    bytes.resize(needed, 0);
    if (!::CryptEncrypt(key, 0, TRUE, 0, bytes.data(), &length, needed)) {
        ThrowLastCryptError();
    }
    bytes.resize(length);
    return ToHex(bytes);
}

std::wstring Crypt::Decrypt(const std::wstring& storedForm) const
{
    if (storedForm.empty() || storedForm.size() % 2 != 0) {
        ThrowCryptFailure();
    }
    std::vector<BYTE> bytes = FromHex(storedForm);
    DWORD length = static_cast<DWORD>(bytes.size());
    if (!::CryptDecrypt(key, 0, TRUE, 0, bytes.data(), &length)) {
        ThrowCryptFailure();
    }
    const size_t characters = length / sizeof(wchar_t); // an odd last byte is no character
    // Encrypt never makes a text shorter than its prefix: such a text is damaged, not an empty password.
    if (characters < static_cast<size_t>(prefixLength)) {
        ThrowCryptFailure();
    }
    std::wstring text(characters, L'\0');
    std::memcpy(&text[0], bytes.data(), characters * sizeof(wchar_t));
    return text.substr(static_cast<size_t>(prefixLength));
}

} // namespace utils
