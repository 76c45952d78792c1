#include "Double.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace MapiDouble {

namespace {

std::set<CObjectBase*>& LiveObjects()
{
    static std::set<CObjectBase*> objects;
    return objects;
}

std::vector<std::string>& Misuses()
{
    static std::vector<std::string> misuses;
    return misuses;
}

// The call record, held open while MAPI is started, as MAPI keeps its own files open.
CCallLog& CallLog()
{
    static CCallLog log;
    return log;
}

// The calls that reach the Exchange server in a real deployment, by interface; tables and sessions say so for
// themselves.
const char* const ServerCalls[] = {
    "IMsgServiceAdmin::ConfigureMsgService",
    "IMAPISession::OpenMsgStore",
    "IMsgStore::GetReceiveFolder",
    "IMsgStore::OpenEntry",
    "IMAPIFolder::GetContentsTable",
    "IMAPIFolder::CreateMessage",
    "IMAPIFolder::DeleteMessages",
    "IMessage::GetProps",
    "IMessage::SetProps",
    "IMessage::OpenProperty",
    "IMessage::SaveChanges",
    "IStream::Write",
    "IStream::Commit",
};

// The calling thread: its MAPIInitialize calls not yet matched, whether one of them said nothing of other threads,
// its number among the threads that called the double, how deep its calls are nested and the server delay they owe.
thread_local ULONG threadInitializations = 0;
thread_local bool threadSingle = false;
thread_local ULONG threadNumber = 0;
thread_local ULONG callDepth = 0;
thread_local ULONG owedDelay = 0;

ULONG threadsWithMapi = 0;
ULONG mostThreadsWithMapi = 0;
ULONG singleThreads = 0; // threads with MAPI initialised without MAPI_MULTITHREAD_NOTIFICATIONS

// How often each fault of the steering file matched on each thread, by thread number.
std::vector<ULONG>& ThreadUses()
{
    static std::map<ULONG, std::vector<ULONG>> uses;
    static ULONG threads = 0;
    threadNumber = threadNumber == 0 ? ++threads : threadNumber;
    return uses[threadNumber];
}

constexpr char EntryIdMark[] = "BMD1";
constexpr size_t EntryIdHead = 4 + sizeof EntryIdMark - 1; // the ENTRYID flags, then the mark

std::string HexResult(HRESULT result)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lx", static_cast<unsigned long>(result));
    return buffer;
}

// A name matches a mailbox by its whole legacyExchangeDN, by the start of its alias, or after "=" by its whole
// alias, all without regard to case.
bool NameMatches(const Mailbox& mailbox, const std::wstring& wanted)
{
    if (!wanted.empty() && wanted[0] == L'=') {
        return SameTextNoCase(mailbox.Name, wanted.substr(1));
    }
    return !wanted.empty() &&
           (SameTextNoCase(mailbox.Dn, wanted) || SameTextNoCase(mailbox.Name.substr(0, wanted.size()), wanted));
}

} // namespace

std::recursive_mutex& DoubleLock()
{
    static std::recursive_mutex lock;
    return lock;
}

ULONG& Initializations()
{
    static ULONG count = 0;
    return count;
}

void ThreadStartsMapi(ULONG flags)
{
    const CDoubleGuard guard(DoubleLock());
    ++Initializations();
    threadsWithMapi += threadInitializations++ == 0 ? 1 : 0;
    mostThreadsWithMapi = std::max(mostThreadsWithMapi, threadsWithMapi);
    if ((flags & MAPI_MULTITHREAD_NOTIFICATIONS) == 0 && !threadSingle) {
        threadSingle = true;
        ++singleThreads;
    }
    // The MAPIInitialize reference: a multithreaded client passes MAPI_MULTITHREAD_NOTIFICATIONS.
    if (threadsWithMapi > 1 && singleThreads > 0) {
        NoteMisuse("MAPI initialised on more than one thread without MAPI_MULTITHREAD_NOTIFICATIONS");
    }
}

bool ThreadEndsMapi()
{
    const CDoubleGuard guard(DoubleLock());
    if (threadInitializations == 0) {
        return false;
    }
    --Initializations();
    if (--threadInitializations == 0) {
        --threadsWithMapi;
        singleThreads -= threadSingle ? 1 : 0;
        threadSingle = false;
    }
    return true;
}

void NoteMisuse(const std::string& what)
{
    const CDoubleGuard guard(DoubleLock());
    Misuses().push_back(what);
}

void NoteUiFlags(const char* call, ULONG flags, ULONG uiFlags)
{
    if ((flags & uiFlags) != 0) {
        NoteMisuse(std::string(call) + " with a flag that lets it show a dialog");
    }
}

Accounting TakeAccounting()
{
    Accounting accounting;
    for (const CObjectBase* object : LiveObjects()) {
        ++accounting.Objects;
        accounting.Details.push_back(std::string("object ") + object->Kind() + " " + EscapeWide(object->MailboxDn()));
    }
    CountLiveBlocks(accounting);
    for (const std::string& misuse : Misuses()) {
        ++accounting.Misuses;
        accounting.Details.push_back("misuse " + misuse);
    }
    Misuses().clear();
    accounting.Threads = std::exchange(mostThreadsWithMapi, 0);
    return accounting;
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b)
{
    // Ordinal: the locale's comparison cost more than everything else in lookups among hundreds of mailboxes.
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::string AnsiArgument(const void* text, ULONG flags, bool* present)
{
    if (present != nullptr) {
        *present = text != nullptr;
    }
    if (text == nullptr) {
        return std::string();
    }
    return (flags & MAPI_UNICODE) != 0 ? ToAnsi(static_cast<const wchar_t*>(text)) : static_cast<const char*>(text);
}

CObjectBase::CObjectBase(const char* objectKind, std::wstring objectMailbox)
    : kind(objectKind), mailbox(std::move(objectMailbox))
{
    const CDoubleGuard guard(DoubleLock());
    LiveObjects().insert(this);
}

CObjectBase::~CObjectBase()
{
    const CDoubleGuard guard(DoubleLock());
    LiveObjects().erase(this);
}

bool CObjectBase::ReachesServer(const std::string& method) const
{
    const std::string name = std::string(kind) + "::" + method;
    return std::any_of(std::begin(ServerCalls), std::end(ServerCalls), [&](const char* call) { return name == call; });
}

void CObjectBase::RememberError(HRESULT result, const std::wstring& text)
{
    lastResult = result;
    lastText = text;
}

HRESULT CObjectBase::ReportLastError(HRESULT result, ULONG flags, LPMAPIERROR* error)
{
    CCall call(this, "GetLastError");
    if (error == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *error = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    // The double keeps its texts wide, and says so to a caller that asks for narrow ones.
    if (flags != MAPI_UNICODE) {
        return call.End((flags & ~MAPI_UNICODE) != 0 ? MAPI_E_UNKNOWN_FLAGS : MAPI_E_BAD_CHARWIDTH);
    }
    if (result != lastResult || lastText.empty()) {
        return call.End();
    }
    void* block = nullptr;
    if (FAILED(AllocateBlock(sizeof(MAPIERROR), &block))) {
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    MAPIERROR* answer = static_cast<MAPIERROR*>(block);
    answer->ulVersion = MAPI_ERROR_VERSION;
    answer->lpszError = reinterpret_cast<LPTSTR>(CopyText(lastText, block));
    answer->lpszComponent = reinterpret_cast<LPTSTR>(CopyText(FromAnsi(kind), block));
    answer->ulLowLevelError = 0;
    answer->ulContext = 0;
    *error = answer;
    return call.End();
}

HRESULT CObjectBase::Unsupported(const char* method)
{
    return CCall(this, method).End(MAPI_E_NO_SUPPORT);
}

CCall::CCall(CObjectBase* target, const char* method, const std::wstring& callMailbox)
    : lock(DoubleLock()), object(target),
      name(target == nullptr ? method : std::string(target->Kind()) + "::" + method), mailbox(callMailbox)
{
    ++callDepth;
    // "Threading in MAPI": every thread calls MAPIInitialize before it uses MAPI.
    if (threadInitializations == 0 && name != "MAPIInitialize" && name != "MAPIUninitialize") {
        NoteMisuse(name + " on a thread that has not called MAPIInitialize");
        matched = true;
        fault.Result = MAPI_E_NOT_INITIALIZED;
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (!state.IsSet()) {
        return;
    }
    const std::vector<Fault>& faults = state.Faults();
    std::vector<ULONG>& threadUses = ThreadUses();
    threadUses.resize(std::max(threadUses.size(), faults.size()));
    std::vector<ULONG> uses; // read only when a fault that counts its uses applies
    for (size_t index = 0; index < faults.size(); ++index) {
        const Fault& each = faults[index];
        if (!SameTextNoCase(each.Call, FromAnsi(name)) ||
            (!each.Mailbox.empty() && !SameTextNoCase(each.Mailbox, mailbox))) {
            continue;
        }
        if (each.Use != 0) {
            uses = uses.empty() ? state.LoadUses() : uses;
            uses.resize(std::max(uses.size(), faults.size()));
            ++uses[index];
            ++threadUses[index];
        }
        if (!matched && (each.Use == 0 || threadUses[index] == each.Use)) {
            matched = true;
            fault = each;
        }
    }
    if (!uses.empty()) {
        state.SaveUses(uses);
    }
}

CCall::~CCall()
{
    const ULONG delay = --callDepth == 0 ? std::exchange(owedDelay, 0) : 0;
    lock.unlock();
    if (delay != 0) {
        Sleep(delay);
    }
}

HRESULT CCall::End(HRESULT result, const std::wstring& text)
{
    std::wstring errorText = text;
    if (matched && fault.Column == 0 && (FAILED(fault.Result) || result == S_OK)) {
        result = fault.Result;
        errorText = fault.Text;
    }
    if (object != nullptr && result != S_OK) {
        object->RememberError(result, errorText);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (!state.IsSet()) {
        return result;
    }
    std::string recorded = name + " -> " + HexResult(result);
    const std::string method = name.substr(name.find(':') == std::string::npos ? 0 : name.find(':') + 2);
    if (object != nullptr && object->ReachesServer(method)) {
        owedDelay += state.ServerDelay(); // waited once the outermost call lets go of the world
        recorded += " @server " + EscapeWide(mailbox);
    }
    // Once MAPI has ended, a test may remove the directory: the record is then no longer held open.
    if (Initializations() > 0) {
        CallLog().Append(state, recorded);
    } else {
        CallLog().Close();
        state.AppendCall(recorded);
    }
    return result;
}

void FillValue(SPropValue& value, const Property* property, ULONG tag, void* parent)
{
    const ULONG stored = property == nullptr ? PT_ERROR : PROP_TYPE(property->Tag);
    const ULONG wanted = PROP_TYPE(tag) == PT_UNSPECIFIED ? stored : PROP_TYPE(tag);
    value.ulPropTag = PROP_TAG(wanted, PROP_ID(tag));
    const bool bothStrings =
        (wanted == PT_UNICODE || wanted == PT_STRING8) && (stored == PT_UNICODE || stored == PT_STRING8);
    if (property == nullptr || (wanted != stored && !bothStrings)) {
        value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
        value.Value.err = MAPI_E_NOT_FOUND;
        return;
    }
    switch (wanted) {
    case PT_UNICODE:
        value.Value.lpszW = CopyText(stored == PT_UNICODE ? property->Text : FromAnsi(property->Bytes), parent);
        break;
    case PT_STRING8:
        value.Value.lpszA = CopyBytes(stored == PT_STRING8 ? property->Bytes : ToAnsi(property->Text), parent);
        break;
    case PT_BINARY:
        value.Value.bin.cb = static_cast<ULONG>(property->Bytes.size());
        value.Value.bin.lpb = reinterpret_cast<LPBYTE>(CopyBytes(property->Bytes, parent));
        break;
    default:
        value.Value.l = property->Number;
        break;
    }
}

bool TakeValue(const SPropValue& value, Property& property)
{
    property = Property();
    property.Tag = value.ulPropTag;
    if (PROP_TYPE(value.ulPropTag) == PT_UNICODE) {
        property.Text = value.Value.lpszW == nullptr ? std::wstring() : value.Value.lpszW;
        return true;
    }
    if (PROP_TYPE(value.ulPropTag) == PT_STRING8) {
        property.Bytes = value.Value.lpszA == nullptr ? std::string() : value.Value.lpszA;
        return true;
    }
    return false;
}

// The mailbox's legacyExchangeDN is kept as its UTF-16 bytes, so that any name comes back whole.
std::string MakeEntryId(char type, const std::wstring& part, const std::wstring& dn)
{
    return std::string(4, '\0') + EntryIdMark + type + ":" + ToAnsi(part) + ":" +
           std::string(reinterpret_cast<const char*>(dn.data()), dn.size() * sizeof(wchar_t));
}

bool ParseEntryId(ULONG size, const void* entryId, EntryRef& ref)
{
    if (entryId == nullptr || size < EntryIdHead + 4) {
        return false;
    }
    const std::string bytes(static_cast<const char*>(entryId), size);
    const size_t second = bytes.find(':', EntryIdHead + 2);
    if (bytes.compare(0, EntryIdHead, std::string(4, '\0') + EntryIdMark) != 0 || bytes[EntryIdHead + 1] != ':' ||
        second == std::string::npos) {
        return false;
    }
    ref.Type = bytes[EntryIdHead];
    ref.Part = FromAnsi(bytes.substr(EntryIdHead + 2, second - EntryIdHead - 2));
    ref.Dn.resize((size - second - 1) / sizeof(wchar_t));
    std::memcpy(&ref.Dn[0], bytes.data() + second + 1, ref.Dn.size() * sizeof(wchar_t));
    return true;
}

const Mailbox* FindMailbox(const std::vector<Mailbox>& mailboxes, const std::wstring& dn)
{
    const auto found = std::find_if(mailboxes.begin(), mailboxes.end(),
                                    [&](const Mailbox& mailbox) { return SameTextNoCase(mailbox.Dn, dn); });
    return found == mailboxes.end() ? nullptr : &*found;
}

const Profile* FindProfile(const std::vector<Profile>& profiles, const std::string& name)
{
    const auto found = std::find_if(profiles.begin(), profiles.end(), [&](const Profile& profile) {
        return SameTextNoCase(FromAnsi(profile.Name), FromAnsi(name));
    });
    return found == profiles.end() ? nullptr : &*found;
}

std::wstring ProfileMailbox(const std::string& profileName)
{
    const CDoubleGuard guard(DoubleLock());
    const Profile* profile = FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName);
    const Property* name = profile == nullptr ? nullptr : FindProperty(profile->Settings, PrProfileUnresolvedName);
    return name == nullptr ? std::wstring() : FromAnsi(name->Bytes);
}

HRESULT ResolveExchangeMailbox(const Properties& settings, std::wstring& dn)
{
    const Property* server = FindProperty(settings, PrProfileUnresolvedServer);
    const Property* name = FindProperty(settings, PrProfileUnresolvedName);
    if (server == nullptr || name == nullptr) {
        return MAPI_E_UNCONFIGURED;
    }
    bool serverKnown = false;
    size_t matches = 0;
    for (const Mailbox& mailbox : CStateDirectory::FromEnvironment().Mailboxes()) {
        if (SameTextNoCase(mailbox.Server, FromAnsi(server->Bytes))) {
            serverKnown = true;
            if (NameMatches(mailbox, FromAnsi(name->Bytes))) {
                ++matches;
                dn = mailbox.Dn;
            }
        }
    }
    constexpr HRESULT mailNameNotFound = static_cast<HRESULT>(0x81002746);
    if (!serverKnown) {
        return MAPI_E_NETWORK_ERROR;
    }
    return matches == 0 ? mailNameNotFound : matches == 1 ? S_OK : MAPI_E_AMBIGUOUS_RECIP;
}

} // namespace MapiDouble
