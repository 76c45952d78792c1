// The stored password against reference texts made without any of the tool's code.
#include "config/Crypt.h"
#include "errors/Errors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwctype>

namespace {

// Made by tests/fixtures/cipher/make_vectors.py: OpenSSL's des-ede3-cbc with a zero IV, the key that
// CryptDeriveKey's documented rule widens from the MD5 of the UTF-16LE passphrase, and the two prefix characters
// U+02AD U+3A53 that the C runtime's rand() gives first in an unseeded process.
const struct {
    const wchar_t* password;
    const wchar_t* storedForm;
} references[] = {
    {L"", L"95B954988A4FC49A"},
    {L"secret", L"6E660FDAEB66FC561E7AD6C67D797BED6E3A0790122033AF"},
    {L"Z\u00FCrich-\u041F\u0430\u0440\u043E\u043B\u044C-\u20AC\U0001F511",
     L"2DAC9464B72AB06AECDA1DF5D5140963EF7BC9B2624DB367844D3F1941D269AB3AEE1391B6C24B08"},
};

bool Refused(const std::wstring& storedForm)
{
    try {
        utils::Crypt().Decrypt(storedForm);
    } catch (const Errors::CCryptError& error) {
        return error.GetCode() == E_FAIL;
    }
    return false;
}

TEST(Crypt, StoresAndReadsExactlyTheReferenceTexts)
{
    const utils::Crypt cipher;
    for (const auto& reference : references) {
        std::srand(1); // the state of rand() when a process starts, which the tool enciphers from
        EXPECT_EQ(reference.storedForm, cipher.Encrypt(reference.password));
        std::wstring lower = reference.storedForm;
        for (wchar_t& c : lower) {
            c = static_cast<wchar_t>(std::towlower(c));
        }
        EXPECT_EQ(reference.password, cipher.Decrypt(lower));
    }
    // A character that is no hexadecimal digit counts as the digit before it ("6E66...": the fourth repeats the third).
    EXPECT_EQ(L"secret", cipher.Decrypt(L"6E6x0FDAEB66FC561E7AD6C67D797BED6E3A0790122033AF"));
}

TEST(Crypt, RefusesWhatIsNoStoredPassword)
{
    const std::wstring secret = references[1].storedForm;
    for (const std::wstring& text : {
             std::wstring(), secret.substr(0, 47), secret.substr(0, 46), std::wstring(48, L'z'),
             std::wstring(L"EB60536BA682864C8ADA41F3F919270FCC80584DEE3C3635"), // the passphrase of zeros
             std::wstring(L"ECA67F79A7BF6948"), // our key, shorter than the prefix: nothing,
             std::wstring(L"EE0709C74470810E"), // one character,
             std::wstring(L"1E46171B10090572"), // one character and an odd byte
         }) {
        EXPECT_TRUE(Refused(text)) << text.size() << " digits";
    }
}

} // namespace
