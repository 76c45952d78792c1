#pragma once

#include "errors/Errors.h"
#include "mapi/MapiPtr.h"
#include "mapi32/State.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace MapiTesting {

// An ANSI text as the narrow profile administration calls take it.
inline LPTSTR Ansi(const char* text)
{
    return reinterpret_cast<LPTSTR>(const_cast<char*>(text));
}

// The profile administration of the double, its opening checked.
inline Mapi::TMapiPtr<IProfAdmin> ProfileAdmin()
{
    Mapi::TMapiPtr<IProfAdmin> admin;
    EXPECT_EQ(S_OK, ::MAPIAdminProfiles(0, admin.Out()));
    return admin;
}

// The mailbox most tests work with, on the server its profile names.
extern const wchar_t SourceServer[];
extern const wchar_t AliceDn[];
extern const char AliceProfile[];

// A world of its own for the MAPI double: a fresh state directory that this test process names to the double.
class CMapiWorld {
public:
    CMapiWorld();
    ~CMapiWorld();
    CMapiWorld(const CMapiWorld&) = delete;
    CMapiWorld& operator=(const CMapiWorld&) = delete;

    const MapiDouble::CStateDirectory& State() const { return state; }

    void AddMailbox(const MapiDouble::Mailbox& mailbox);
    // A profile whose Exchange service points at `dn` on `server`, as a configured one does.
    void AddProfile(const std::string& name, const std::wstring& server, const std::wstring& dn);
    void AddFault(const MapiDouble::Fault& fault);

    // The messages of a mailbox's Inbox as the state holds them now.
    std::vector<MapiDouble::Message> Messages(const std::wstring& dn) const;
    // The lines of the call record that start with `call` followed by a blank.
    std::vector<std::string> CallsTo(const std::string& call) const;

private:
    TestSupport::TempDir directory{L"mapi"};
    MapiDouble::CStateDirectory state;
};

MapiDouble::Mailbox MakeMailbox(const std::wstring& server, const std::wstring& dn);
MapiDouble::Message AssociatedMessage(const std::wstring& subject, const std::wstring& body = L"");
MapiDouble::Fault MakeFault(const std::wstring& call, HRESULT result, const std::wstring& text = L"");
// The subject a message holds, or "(none)".
std::wstring SubjectOf(const MapiDouble::Message& message);

// Everything written to std::cout while it lives, exactly as the code wrote it (before the C runtime turns
// line feeds into CR LF).
class CConsoleCapture {
public:
    CConsoleCapture() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~CConsoleCapture() { std::cout.rdbuf(saved); }
    CConsoleCapture(const CConsoleCapture&) = delete;
    CConsoleCapture& operator=(const CConsoleCapture&) = delete;

    std::string Text() const { return text.str(); }

private:
    std::ostringstream text;
    std::streambuf* saved;
};

// What an action raised as Errors::CMapiError; S_OK and no text when it raised nothing.
struct RaisedError {
    HRESULT Code = S_OK;
    std::wstring Message;
};

template <class TAction>
RaisedError MapiErrorOf(TAction action)
{
    try {
        action();
    } catch (const Errors::CMapiError& error) {
        return RaisedError{error.GetCode(), error.GetMessage()};
    }
    return RaisedError{};
}

// Tests on the MAPI double: a world with Alice's mailbox and profile, and after the test a check that MAPI
// was ended as often as it was started and that nothing was left behind each time.
class MapiTest : public ::testing::Test {
protected:
    MapiTest();
    void TearDown() override;

    CMapiWorld world;
};

} // namespace MapiTesting
