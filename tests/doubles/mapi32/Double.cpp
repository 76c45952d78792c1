#include "Double.h"

#include "StateText.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>

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

template <class TText>
bool IsPrintableAscii(const TText& text)
{
    return std::all_of(text.begin(), text.end(), [](auto c) { return c >= 0x20 && c < 0x7F; });
}

// For printable ASCII this is what the locale's comparison without regard to case answers, at a fraction of
// its cost under Wine, where it dominated lookups among hundreds of mailboxes and profiles.
template <class TText>
bool SameAsciiNoCase(const TText& a, const TText& b)
{
    const auto lower = [](auto c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](auto x, auto y) { return lower(x) == lower(y); });
}

bool Applies(const Fault& fault, const std::string& call, const std::wstring& mailbox)
{
    return SameTextNoCase(fault.Call, FromAnsi(call)) &&
           (fault.Mailbox.empty() || SameTextNoCase(fault.Mailbox, mailbox));
}

// The calls that reach the Exchange server in a real deployment, by interface; tables say so for themselves.
const char* const ServerCalls[] = {
    "IMsgServiceAdmin::ConfigureMsgService", "IMAPISession::OpenMsgStore", "IMsgStore::GetReceiveFolder",
    "IMsgStore::OpenEntry",                  "IMsgStore::GetProps",        "IMAPIFolder::GetContentsTable",
    "IMAPIFolder::OpenEntry",                "IMAPIFolder::GetProps",      "IMAPIFolder::CreateMessage",
    "IMAPIFolder::DeleteMessages",           "IMessage::GetProps",         "IMessage::SetProps",
    "IMessage::OpenProperty",                "IMessage::SaveChanges",      "IStream::Write",
    "IStream::Commit",
};

} // namespace

CCallLog& CallLog()
{
    static CCallLog log;
    return log;
}

ULONG& Initializations()
{
    static ULONG count = 0;
    return count;
}

void NoteMisuse(const std::string& what)
{
    Misuses().push_back(what);
}

Accounting TakeAccounting()
{
    Accounting accounting;
    for (const CObjectBase* object : LiveObjects()) {
        ++accounting.Objects;
        accounting.Details.push_back(std::string("object ") + object->Kind() +
                                     " references=" + std::to_string(object->References()) +
                                     " mailbox=" + EscapeWide(object->MailboxDn()));
    }
    CountLiveBlocks(accounting);
    for (const std::string& misuse : Misuses()) {
        ++accounting.Misuses;
        accounting.Details.push_back("misuse " + misuse);
    }
    Misuses().clear();
    return accounting;
}

std::string ToAnsi(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &ansi[0], size, nullptr, nullptr);
    }
    return ansi;
}

std::wstring FromAnsi(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], size);
    }
    return wide;
}

bool SameTextNoCase(const std::wstring& a, const std::wstring& b)
{
    if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
        return SameAsciiNoCase(a, b);
    }
    return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool SameAnsiTextNoCase(const std::string& a, const std::string& b)
{
    if (IsPrintableAscii(a) && IsPrintableAscii(b)) {
        return SameAsciiNoCase(a, b);
    }
    return SameTextNoCase(FromAnsi(a), FromAnsi(b));
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

std::wstring WideArgument(const void* text, ULONG flags, bool* present)
{
    if (present != nullptr) {
        *present = text != nullptr;
    }
    if (text == nullptr) {
        return std::wstring();
    }
    return (flags & MAPI_UNICODE) != 0 ? static_cast<const wchar_t*>(text) : FromAnsi(static_cast<const char*>(text));
}

std::string Hex(ULONG value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lx", value);
    return buffer;
}

std::string QuoteAnsi(const void* text, ULONG flags)
{
    if (text == nullptr) {
        return "(null)";
    }
    return (flags & MAPI_UNICODE) != 0 ? EscapeWide(static_cast<const wchar_t*>(text))
                                       : EscapeBytes(static_cast<const char*>(text));
}

CObjectBase::CObjectBase(const char* objectKind, std::wstring objectMailbox)
    : kind(objectKind), mailbox(std::move(objectMailbox))
{
    LiveObjects().insert(this);
}

CObjectBase::~CObjectBase()
{
    LiveObjects().erase(this);
}

bool CObjectBase::ReachesServer(const std::string& method) const
{
    const std::string name = std::string(kind) + "::" + method;
    return std::any_of(std::begin(ServerCalls), std::end(ServerCalls),
                       [&](const char* call) { return name == call; });
}

void CObjectBase::RememberError(HRESULT result, const std::wstring& text)
{
    lastResult = result;
    lastText = text;
}

HRESULT CObjectBase::ReportLastError(HRESULT result, ULONG flags, LPMAPIERROR* error)
{
    CCall call(this, "GetLastError", "result=" + HexResult(result) + " flags=" + Hex(flags));
    if (error == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *error = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if ((flags & ~MAPI_UNICODE) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
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
    if ((flags & MAPI_UNICODE) != 0) {
        answer->lpszError = reinterpret_cast<LPTSTR>(CopyText(lastText, block));
        answer->lpszComponent = reinterpret_cast<LPTSTR>(CopyText(FromAnsi(kind), block));
    } else {
        answer->lpszError = reinterpret_cast<LPTSTR>(CopyBytes(ToAnsi(lastText), block));
        answer->lpszComponent = reinterpret_cast<LPTSTR>(CopyBytes(kind, block));
    }
    *error = answer;
    return call.End();
}

HRESULT CObjectBase::Unsupported(const char* method)
{
    CCall call(this, method, "");
    return call.End(MAPI_E_NO_SUPPORT);
}

CCall::CCall(CObjectBase* target, const char* method, const std::string& arguments)
    : CCall(target, method, arguments, target == nullptr ? std::wstring() : target->MailboxDn())
{
}

CCall::CCall(CObjectBase* target, const char* method, const std::string& arguments, const std::wstring& callMailbox)
    : object(target), mailbox(callMailbox), onServer(target != nullptr && target->ReachesServer(method))
{
    const std::string name = object == nullptr ? std::string(method) : std::string(object->Kind()) + "::" + method;
    line = arguments.empty() ? name : name + " " + arguments;
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    if (!state.IsSet()) {
        return;
    }
    const std::vector<Fault>& faults = state.Faults();
    std::vector<ULONG> uses; // read only when a fault that counts its uses applies
    bool counted = false;
    for (size_t index = 0; index < faults.size(); ++index) {
        if (!Applies(faults[index], name, mailbox)) {
            continue;
        }
        if (faults[index].Use != 0) {
            if (!counted) {
                uses = state.LoadUses();
                uses.resize(std::max(uses.size(), faults.size()));
                counted = true;
            }
            ++uses[index];
        }
        if (!matched && (faults[index].Use == 0 || uses[index] == faults[index].Use)) {
            matched = true;
            fault = faults[index];
        }
    }
    if (counted) {
        state.SaveUses(uses);
    }
}

HRESULT CCall::End(HRESULT result, const std::wstring& text)
{
    std::wstring errorText = text;
    if (matched && (FAILED(fault.Result) || result == S_OK)) {
        result = fault.Result;
        errorText = fault.Text;
    }
    if (object != nullptr && result != S_OK) {
        object->RememberError(result, errorText);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    std::string recorded = line + " -> " + HexResult(result);
    if (onServer && state.IsSet()) {
        if (const ULONG delay = state.ServerDelay()) {
            Sleep(delay);
        }
        recorded += " @server " + EscapeWide(mailbox);
    }
    if (state.IsSet()) {
        // While MAPI is started the record stays open, as MAPI keeps its own files open; once it has ended,
        // a test may remove the directory.
        if (Initializations() > 0) {
            CallLog().Append(state, recorded);
        } else {
            CallLog().Close();
            state.AppendCall(recorded);
        }
    }
    return result;
}

bool FillValue(SPropValue& value, const Property* property, ULONG tag, void* parent)
{
    const ULONG stored = property == nullptr ? PT_ERROR : PROP_TYPE(property->Tag);
    const ULONG wanted = PROP_TYPE(tag) == PT_UNSPECIFIED ? stored : PROP_TYPE(tag);
    value.ulPropTag = PROP_TAG(wanted, PROP_ID(tag));
    const bool bothStrings = (wanted == PT_UNICODE || wanted == PT_STRING8) &&
                             (stored == PT_UNICODE || stored == PT_STRING8);
    if (property == nullptr || (wanted != stored && !bothStrings)) {
        value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
        value.Value.err = MAPI_E_NOT_FOUND;
        return false;
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
    case PT_BOOLEAN:
        value.Value.b = property->Number != 0;
        break;
    default:
        value.Value.l = property->Number;
        break;
    }
    return true;
}

bool TakeValue(const SPropValue& value, Property& property)
{
    property = Property();
    property.Tag = value.ulPropTag;
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_UNICODE:
        property.Text = value.Value.lpszW == nullptr ? std::wstring() : value.Value.lpszW;
        return true;
    case PT_STRING8:
        property.Bytes = value.Value.lpszA == nullptr ? std::string() : value.Value.lpszA;
        return true;
    case PT_BINARY:
        property.Bytes.assign(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        return true;
    case PT_BOOLEAN:
        property.Number = value.Value.b != 0;
        return true;
    case PT_LONG:
        property.Number = value.Value.l;
        return true;
    default:
        return false;
    }
}

HRESULT AnswerProps(const Properties& properties, LPSPropTagArray tags, ULONG* count, LPSPropValue* values)
{
    const ULONG wanted = tags == nullptr ? static_cast<ULONG>(properties.size()) : tags->cValues;
    void* block = nullptr;
    if (FAILED(AllocateBlock(wanted * sizeof(SPropValue), &block))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    LPSPropValue answer = static_cast<LPSPropValue>(block);
    bool complete = true;
    for (ULONG index = 0; index < wanted; ++index) {
        const ULONG tag = tags == nullptr ? properties[index].Tag : tags->aulPropTag[index];
        complete &= FillValue(answer[index], FindProperty(properties, tag), tag, block);
    }
    *count = wanted;
    *values = answer;
    return complete ? S_OK : MAPI_W_ERRORS_RETURNED;
}

HRESULT AnswerPropList(const Properties& properties, LPSPropTagArray* tags)
{
    void* block = nullptr;
    if (FAILED(AllocateBlock(CbNewSPropTagArray(properties.size()), &block))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    LPSPropTagArray answer = static_cast<LPSPropTagArray>(block);
    answer->cValues = static_cast<ULONG>(properties.size());
    for (size_t index = 0; index < properties.size(); ++index) {
        answer->aulPropTag[index] = properties[index].Tag;
    }
    *tags = answer;
    return S_OK;
}

} // namespace MapiDouble
