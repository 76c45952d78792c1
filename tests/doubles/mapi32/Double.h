#pragma once

// The inside of the MAPI32 double: its memory blocks, the bookkeeping every object shares, the way each call
// is steered, recorded and answered, and the world's objects as MAPI callers meet them.

#include "State.h"

#include <windows.h>
#include <mapix.h>

#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace MapiDouble {

// MAPI memory. Blocks handed to callers are counted until freed; the double's own answers use these too.
HRESULT AllocateBlock(ULONG size, void** block);
HRESULT AllocateMoreBlock(ULONG size, void* parent, void** block);
HRESULT FreeBlock(void* block);
// Allocates a copy on `parent`.
char* CopyBytes(const std::string& bytes, void* parent);
wchar_t* CopyText(const std::wstring& text, void* parent);
void CountLiveBlocks(Accounting& accounting);

// Held by every call for its work, so that calls on several threads see the world one at a time; a call's server
// delay is waited out without it, as separate connections to a real server overlap.
std::recursive_mutex& DoubleLock();
using CDoubleGuard = std::lock_guard<std::recursive_mutex>;

// How many MAPIInitialize calls of the process are not yet matched by MAPIUninitialize.
ULONG& Initializations();
// The calling thread's MAPIInitialize with its flags; MAPI initialised on more than one thread, any of them
// without MAPI_MULTITHREAD_NOTIFICATIONS, is a misuse.
void ThreadStartsMapi(ULONG flags);
// The calling thread's MAPIUninitialize; false when the thread has no MAPIInitialize to match.
bool ThreadEndsMapi();
// A call the MAPI reference forbids, for the record MAPIUninitialize leaves.
void NoteMisuse(const std::string& what);
// An unattended run must never ask: any of `uiFlags` in a call's flags is a misuse.
void NoteUiFlags(const char* call, ULONG flags, ULONG uiFlags);
// Everything still alive, and the misuses seen since the last record.
Accounting TakeAccounting();

bool SameTextNoCase(const std::wstring& a, const std::wstring& b);
// A string argument that may be wide (MAPI_UNICODE in `flags`) or narrow, as ANSI; `present` tells null apart.
std::string AnsiArgument(const void* text, ULONG flags, bool* present = nullptr);

// A method of the platform's interface that the tool never calls: recorded, and answered MAPI_E_NO_SUPPORT.
// clang-format off
#define UNSUPPORTED(method, ...) STDMETHODIMP method(__VA_ARGS__) override { return this->Unsupported(#method); }
// clang-format on

// Every object the double hands out: counted while referenced, with the last error GetLastError tells.
class CObjectBase {
public:
    CObjectBase(const char* kind, std::wstring mailbox);
    virtual ~CObjectBase();
    CObjectBase(const CObjectBase&) = delete;
    CObjectBase& operator=(const CObjectBase&) = delete;

    const char* Kind() const { return kind; }
    const std::wstring& MailboxDn() const { return mailbox; }
    // Whether the method reaches the Exchange server in a real deployment (see README.md).
    virtual bool ReachesServer(const std::string& method) const;
    void RememberError(HRESULT result, const std::wstring& text);

protected:
    HRESULT ReportLastError(HRESULT result, ULONG flags, LPMAPIERROR* error);
    HRESULT Unsupported(const char* method);

    ULONG references = 1;

private:
    const char* kind;
    std::wstring mailbox;
    HRESULT lastResult = S_OK;
    std::wstring lastText;
};

// One call as the steering file and the call record see it. The method asks Refused() first; a matched
// failing fault is then answered at once. End() applies a matched warning, records the call and result, and
// leaves the error text with the object.
class CCall {
public:
    CCall(CObjectBase* object, const char* method, const std::wstring& mailbox);
    CCall(CObjectBase* object, const char* method) : CCall(object, method, object->MailboxDn()) { }
    ~CCall();
    CCall(const CCall&) = delete;
    CCall& operator=(const CCall&) = delete;

    bool Refused() const { return matched && FAILED(fault.Result) && fault.Work.empty() && fault.Column == 0; }
    // Only some of the work: asked for, or what a partial completion says of itself.
    bool Partly() const
    {
        return matched && (fault.Work == L"some" || (fault.Work.empty() && fault.Result == MAPI_W_PARTIAL_COMPLETION));
    }
    // The column whose value every row the call returns carries as an error; 0 for none.
    ULONG ErrorColumn() const { return matched ? fault.Column : 0; }
    HRESULT ColumnError() const { return fault.Result; }
    HRESULT End(HRESULT result = S_OK, const std::wstring& text = std::wstring());

private:
    std::unique_lock<std::recursive_mutex> lock;
    CObjectBase* object;
    std::string name;
    std::wstring mailbox;
    bool matched = false;
    Fault fault;
};

// IUnknown and GetLastError for an object of the double that answers for the given interfaces.
template <class I>
class TObject : public I, public CObjectBase {
public:
    TObject(const char* kind, const std::wstring& mailbox, std::initializer_list<const IID*> interfaces)
        : CObjectBase(kind, mailbox), answers(interfaces)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        const CDoubleGuard guard(DoubleLock());
        if (object == nullptr) {
            return E_INVALIDARG;
        }
        *object = nullptr;
        for (const IID* answer : answers) {
            if (IsEqualIID(iid, *answer) || IsEqualIID(iid, IID_IUnknown)) {
                *object = static_cast<I*>(this);
            }
        }
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        ++references;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        const CDoubleGuard guard(DoubleLock());
        return ++references;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        const CDoubleGuard guard(DoubleLock());
        const ULONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error)
    {
        return ReportLastError(result, flags, error);
    }

private:
    std::vector<const IID*> answers;
};

// IMAPIProp with nothing but what the tool asks of its objects; the rest is unsupported.
template <class I>
class TPropObject : public TObject<I> {
public:
    using TObject<I>::TObject;

    UNSUPPORTED(SaveChanges, ULONG)
    UNSUPPORTED(GetProps, LPSPropTagArray, ULONG, ULONG*, LPSPropValue*)
    UNSUPPORTED(GetPropList, ULONG, LPSPropTagArray*)
    UNSUPPORTED(OpenProperty, ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*)
    UNSUPPORTED(SetProps, ULONG, LPSPropValue, LPSPropProblemArray*)
    UNSUPPORTED(DeleteProps, LPSPropTagArray, LPSPropProblemArray*)
    UNSUPPORTED(CopyTo, ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                LPSPropProblemArray*)
    UNSUPPORTED(CopyProps, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*)
    UNSUPPORTED(GetNamesFromIDs, LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**)
    UNSUPPORTED(GetIDsFromNames, ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*)
};

// Fills `value` with `property` as the tag asks, turning one string type into the other; strings and bytes
// live on `parent`. No property, or one of another type, gives PT_ERROR with MAPI_E_NOT_FOUND.
void FillValue(SPropValue& value, const Property* property, ULONG tag, void* parent);
// The string value a caller handed over, or false for a type the double does not keep.
bool TakeValue(const SPropValue& value, Property& property);

// A table over rows fixed when it is made, as real MAPI's snapshot tables are; `onServer` for a table the
// store keeps on the server, whose rows travel at QueryRows.
IMAPITable* NewTable(const std::wstring& mailbox, std::vector<Properties> rows, std::vector<ULONG> columns,
                     bool onServer = false);

// What an entry identifier of the double names: a store ('S', Part is its kind), the Inbox ('F'), or a
// message ('M', Part is its id).
struct EntryRef {
    char Type = 0;
    std::wstring Part;
    std::wstring Dn;
};
std::string MakeEntryId(char type, const std::wstring& part, const std::wstring& dn);
bool ParseEntryId(ULONG size, const void* entryId, EntryRef& ref);

const Mailbox* FindMailbox(const std::vector<Mailbox>& mailboxes, const std::wstring& dn);
const Profile* FindProfile(const std::vector<Profile>& profiles, const std::string& name);
// The mailbox the profile's Exchange service is pointed at; empty when it has none.
std::wstring ProfileMailbox(const std::string& profileName);
// The mailbox that the Exchange service's two unresolved settings name, as the service resolves them against
// the server (see README.md).
HRESULT ResolveExchangeMailbox(const Properties& settings, std::wstring& dn);
constexpr ULONG PrProfileUnresolvedName = 0x6607001E;
constexpr ULONG PrProfileUnresolvedServer = 0x6608001E;

// A profile with a session open in this process is deleted only when its last session ends.
bool ProfileInUse(const std::string& profileName);
void DeleteWhenUnused(const std::string& profileName);

IProfAdmin* NewProfAdmin();
HRESULT LogonToProfile(LPTSTR profileName, ULONG flags, LPMAPISESSION* session);
// The store the store table lists as `kind` for the mailbox; `writable` as opened.
IMsgStore* NewStore(const std::wstring& dn, const std::wstring& kind, bool writable);

} // namespace MapiDouble
