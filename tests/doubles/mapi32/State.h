#pragma once

// The MAPI double's world and steering, as kept in its state directory (see README.md beside this file).
// The double and the tests both read and write the directory through this one model.

#include <windows.h>
#include <mapidefs.h>

#include <functional>
#include <string>
#include <vector>

namespace MapiDouble {

// The double finds its state directory through this variable only.
constexpr wchar_t StateVariable[] = L"BRISKLET_MAPI_DOUBLE";

// One property value; the member that holds it follows from the tag's type. The state files keep the two
// string types; the double's own answers also carry binary values (Bytes) and numbers.
struct Property {
    ULONG Tag = 0;
    std::wstring Text; // PT_UNICODE
    std::string Bytes; // PT_STRING8 (ANSI code page) and PT_BINARY
    LONG Number = 0; // PT_LONG, and PT_BOOLEAN as 0 or 1
};
using Properties = std::vector<Property>;

Property UnicodeProperty(ULONG tag, const std::wstring& text);
Property BytesProperty(ULONG tag, const std::string& bytes);
Property NumberProperty(ULONG tag, LONG number);
// The value with the tag's property id, whatever its type; null when there is none.
const Property* FindProperty(const Properties& properties, ULONG tag);
// Replaces the value with the same property id, or appends.
void SetProperty(Properties& properties, const Property& property);

struct Message {
    ULONG Id = 0;
    bool Associated = false;
    Properties Props;
};

// A mailbox of the world: its server, the stores its profile's store table lists (in that order) and the
// messages of its Inbox.
struct Mailbox {
    std::wstring Server;
    std::wstring Dn; // legacyExchangeDN
    std::wstring Name;
    std::vector<std::wstring> Stores{L"private"}; // "private" (the mailbox itself) or "pst"
    std::wstring DefaultStore = L"private"; // the store marked default; one not listed marks none
    ULONG ValueLimit = 32768; // bytes of the longest value SetProps takes (RPC buffer)
    ULONG NextId = 1;
    std::vector<Message> Messages;
};

// A profile and its one Exchange service, the only service the double knows (single-copy).
struct Profile {
    std::string Name; // ANSI, as created
    bool HasService = false; // added by CreateMsgService
    Properties Settings; // as configured
};

// Makes a call fail with Result, or, when Result is a warning, do its work and answer the warning.
struct Fault {
    std::wstring Call; // "MAPILogonEx", "IMAPIFolder::DeleteMessages", ...
    HRESULT Result = E_FAIL;
    ULONG Use = 0; // only the n-th matching call, counted from 1; 0: every matching call
    std::wstring Mailbox{}; // only calls made for this mailbox (its legacyExchangeDN); empty: any
    std::wstring Text{}; // what GetLastError then reports; empty: no MAPIERROR
    std::wstring Work{}; // "all" or "some": the call does that much of its work first, then answers Result
    ULONG Column = 0; // IMAPITable::QueryRows: every row carries Result in this column, and the call succeeds
};

// What was still alive when a process's last MAPIUninitialize ended MAPI.
struct Accounting {
    ULONG Objects = 0;
    ULONG Buffers = 0;
    ULONG Misuses = 0; // calls the MAPI reference forbids
    ULONG Threads = 0; // the most threads that had MAPI started at once
    std::vector<std::string> Details; // one line per object, buffer and misuse
};

class CStateDirectory {
public:
    explicit CStateDirectory(std::wstring directory) : path(std::move(directory)) { }
    // The directory named by the double's variable; empty when the variable is not set.
    static CStateDirectory FromEnvironment();

    const std::wstring& Path() const { return path; }
    bool IsSet() const { return !path.empty(); }

    // The double's own view of the world, for its many calls: the files as this process last read or wrote
    // them, read again whenever a file's size or last write time has changed since. A reference stays valid
    // until the next use of the same file.
    const std::vector<Mailbox>& Mailboxes() const;
    const std::vector<Profile>& Profiles() const;
    const std::vector<Fault>& Faults() const;
    // Milliseconds every call that reaches the server waits (server-delay-ms.txt); 0 without the file.
    ULONG ServerDelay() const;
    // Edit that view and write the file at once. An index is a position in the view just read.
    void ChangeMailbox(size_t index, const std::function<void(Mailbox&)>& change) const;
    void AddProfile(const Profile& profile) const;
    void ChangeProfile(size_t index, const std::function<void(Profile&)>& change) const;
    void RemoveProfile(size_t index) const;

    std::vector<Mailbox> LoadMailboxes() const;
    void SaveMailboxes(const std::vector<Mailbox>& mailboxes) const;
    std::vector<Profile> LoadProfiles() const;
    std::vector<Fault> LoadFaults() const;
    void SaveFaults(const std::vector<Fault>& faults) const;
    // How often each fault of the steering file has matched so far, by its position there.
    std::vector<ULONG> LoadUses() const;
    void SaveUses(const std::vector<ULONG>& uses) const;
    std::vector<Accounting> LoadAccounting() const;
    void AppendAccounting(const Accounting& accounting) const;
    // One line per MAPI call: its name, " -> " and the result, and the server mark.
    std::string LoadCalls() const;
    void AppendCall(const std::string& line) const;

private:
    std::wstring FilePath(const wchar_t* name) const { return path + L"\\" + name; }

    std::wstring path;
};

// The call record of a state directory held open for a run of calls: appending through an open handle costs
// a fraction of opening the file for every line. Others may read, append and remove it meanwhile.
class CCallLog {
public:
    CCallLog() = default;
    ~CCallLog() { Close(); }
    CCallLog(const CCallLog&) = delete;
    CCallLog& operator=(const CCallLog&) = delete;

    // Appends a line to the record of `state`, opening it first unless it is already open.
    void Append(const CStateDirectory& state, const std::string& line);
    void Close();

private:
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// Messages as the state file holds them but for their ids, which the double assigns: a world's messages to compare.
std::string FormatMessages(std::vector<Message> messages);

// Wide text as UTF-8 with "\" and line ends escaped, so that no value spans lines.
std::string EscapeWide(const std::wstring& text);
// Text conversions in the ANSI code page, as MAPI does them for its narrow interfaces.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

} // namespace MapiDouble
