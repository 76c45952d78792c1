#include "config/Crypt.h"

#include "errors/Errors.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Stored forms made without any of the tool's code, by tests/fixtures/cipher/make_vectors.py: OpenSSL's
// des-ede3-cbc with a zero IV, the key that CryptDeriveKey's documented rule widens from the MD5 of the
// UTF-16LE passphrase (bb7931ab823363f1 5e19017cefcbe5f7 91dee27f87e794e8), and the two prefix characters
// U+02AD U+3A53 that the C runtime's rand() gives first in an unseeded process.
struct Vector {
    const wchar_t* password;
    const wchar_t* storedForm;
};

const Vector vectors[] = {
    {L"", L"95B954988A4FC49A"},
    {L"secret", L"6E660FDAEB66FC561E7AD6C67D797BED6E3A0790122033AF"},
    {L"P@ss w0rd!", L"EEFD4BB37D07DB0FB70A158A560A41F75F4488A28E81115F7F15DFEB3E272A96"},
    {L"Z\u00FCrich-\u041F\u0430\u0440\u043E\u043B\u044C-\u20AC\U0001F511",
     L"2DAC9464B72AB06AECDA1DF5D5140963EF7BC9B2624DB367844D3F1941D269AB3AEE1391B6C24B08"},
    {L"a password of thirty-two chars!!",
     L"976DCB19AE81A23446B32F8F12BF69A5C8E6CA26A60E9B492333ABC690363687330AE53F00B6B933330DC60905D40822B840C55B00"
     L"820E7F88368CB50B09942CCFD04A3463CFFB00"},
};

// The state of rand() when a process starts, which is the state the tool enciphers from.
void RestartRand()
{
    std::srand(1);
}

HRESULT DecryptError(const utils::Crypt& cipher, const std::wstring& storedForm)
{
    try {
        cipher.Decrypt(storedForm);
    } catch (const Errors::CCryptError& error) {
        return error.GetCode();
    }
    return S_OK;
}

TEST(Crypt, EnciphersExactlyAsTheDocumentedAlgorithmsDo)
{
    const utils::Crypt cipher;
    for (const Vector& vector : vectors) {
        RestartRand();
        EXPECT_EQ(vector.storedForm, cipher.Encrypt(vector.password));
    }
}

TEST(Crypt, DeciphersTheReferenceTextsInEitherCase)
{
    const utils::Crypt cipher;
    for (const Vector& vector : vectors) {
        std::wstring lower = vector.storedForm;
        for (wchar_t& c : lower) {
            c = static_cast<wchar_t>(towlower(c));
        }
        EXPECT_EQ(vector.password, cipher.Decrypt(vector.storedForm));
        EXPECT_EQ(vector.password, cipher.Decrypt(lower));
    }
}

TEST(Crypt, EachFurtherEncryptionTakesTheNextPrefixAndStillDeciphers)
{
    const utils::Crypt cipher;
    RestartRand();
    const std::wstring first = cipher.Encrypt(L"secret");
    const std::wstring second = cipher.Encrypt(L"secret");
    EXPECT_NE(first, second);
    EXPECT_EQ(48u, second.size()); // six characters and the prefix: two blocks, and a block of padding
    EXPECT_EQ(L"secret", cipher.Decrypt(second));
    EXPECT_EQ(L"secret", utils::Crypt().Decrypt(first));
}

TEST(Crypt, TextsOfNoOrOddLengthAreRefused)
{
    const utils::Crypt cipher;
    const std::wstring secret = vectors[1].storedForm;
    for (const std::wstring& text : {std::wstring(), secret.substr(0, 47), std::wstring(L"A")}) {
        EXPECT_EQ(E_FAIL, DecryptError(cipher, text)) << text.size() << " digits";
    }
}

TEST(Crypt, ATextOfAnotherKeyOrAWholeBlockShortIsACipherError)
{
    const utils::Crypt cipher;
    const std::wstring secret = vectors[1].storedForm;
    // Made by the same script with the passphrase of zeros; its padding comes out wrong under our key.
    EXPECT_EQ(E_FAIL, DecryptError(cipher, L"EB60536BA682864C8ADA41F3F919270FCC80584DEE3C3635"));
    EXPECT_EQ(E_FAIL, DecryptError(cipher, secret.substr(0, 46)));
    EXPECT_EQ(E_FAIL, DecryptError(cipher, std::wstring(48, L'z'))); // reads as zeros, which do not decipher
}

TEST(Crypt, ATextShorterThanThePrefixIsACipherErrorNotAnEmptyPassword)
{
    const utils::Crypt cipher;
    // Enciphered by the script under our key: nothing, one character, one character and an odd byte.
    for (const wchar_t* text : {L"ECA67F79A7BF6948", L"EE0709C74470810E", L"1E46171B10090572"}) {
        EXPECT_EQ(E_FAIL, DecryptError(cipher, text)) << text;
    }
}

TEST(Crypt, ACharacterThatIsNoHexDigitCountsAsTheDigitBeforeIt)
{
    const utils::Crypt cipher;
    std::wstring text = vectors[1].storedForm; // "6E66...": the fourth digit repeats the third
    ASSERT_EQ(text[2], text[3]);
    for (const wchar_t stranger : {L'x', L' ', L'\0', L'\u00E9', static_cast<wchar_t>(0xD83D)}) {
        text[3] = stranger;
        EXPECT_EQ(L"secret", cipher.Decrypt(text)) << static_cast<int>(stranger);
    }
}

} // namespace
