#pragma once

#include "config/Settings.h"
#include "directory/DirectoryObjects.h"
#include "errors/Errors.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <typeinfo>

namespace DirectoryTesting {

// The slapd instances of the directory fixture. All serve Fabrikam's directory (DC=fabrikam,DC=com); they
// differ in their root DSE's isGlobalCatalogReady and in the size limit.
namespace Instance {
const wchar_t Dc[] = L"dc";           // "FALSE", 1,200 extra accounts in OU=Bulk
const wchar_t NoGc[] = L"nogc";       // no isGlobalCatalogReady
const wchar_t Gc[] = L"gc";           // "TRUE"
const wchar_t GcLower[] = L"gclower"; // "true"
const wchar_t GcJunk[] = L"gcjunk";   // neither
const wchar_t Limited[] = L"limited"; // "FALSE", OU=Bulk, slapd's default size limit of 500
} // namespace Instance

const wchar_t NamingContext[] = L"DC=fabrikam,DC=com";
const wchar_t ServiceAccount[] = L"CN=svc-brisklet,OU=Service Accounts,DC=fabrikam,DC=com";
const wchar_t ServicePassword[] = L"Migrate-2024!";

const wchar_t SourcePrefix[] = L"/o=Fabrikam/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=";
const wchar_t TargetPrefix[] = L"/o=Contoso/ou=Exchange Administrative Group (FYDIBOHF23SPDLT)/cn=Recipients/cn=";

// "127.0.0.1:PORT" of a running instance.
std::wstring Server(const std::wstring& instance);
SwitchSettings Settings(const std::wstring& instance, const std::wstring& password = ServicePassword);
// The naming context of an instance, bound with the flags given (Wine's own provider refuses secure binds).
Adsi::CDirObject BindNamingContext(const std::wstring& instance, DWORD flags);

std::wstring Source(const std::wstring& name);
std::wstring Target(const std::wstring& name);
std::string Narrow(const std::wstring& text);

// Catches what the code under test writes to std::cout.
class CapturedOutput {
public:
    CapturedOutput() : saved(std::cout.rdbuf(captured.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(saved); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string Text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* saved;
};

// What a call raised, if anything.
struct RaisedError {
    std::string Kind; // "nick", "adsi", another kind's class name, or empty when nothing was raised
    HRESULT Code = S_OK;
    std::wstring Message;
};

template <class TCall>
RaisedError Raised(TCall call)
{
    try {
        call();
    } catch (const Errors::CNickError& error) {
        return {"nick", error.GetCode(), error.GetMessage()};
    } catch (const Errors::CAdsiError& error) {
        return {"adsi", error.GetCode(), error.GetMessage()};
    } catch (const Errors::CError& error) {
        return {typeid(error).name(), error.GetCode(), error.GetMessage()};
    }
    return {};
}

// Whether the activeds.dll of this process is the double.
bool IsDoubleLoaded();

// A test against the activeds double: steers it through a fresh directory and checks, when the test ends,
// that nothing it handed out is still held.
class DoubleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Steer(const std::string& steering);
    std::string Calls() const;

    TestSupport::TempDir steeringDirectory{L"adsi"};
};

// The layer expects its caller to have initialised COM.
class ComApartment {
public:
    ComApartment() { ::CoInitialize(nullptr); }
    ~ComApartment() { ::CoUninitialize(); }
};

} // namespace DirectoryTesting
