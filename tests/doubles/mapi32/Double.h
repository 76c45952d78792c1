#pragma once

// The inside of the MAPI32 double: its memory blocks, the bookkeeping every object shares, and the way
// each call is steered, recorded and answered.

#include "State.h"

#include <windows.h>
#include <mapix.h>

#include <initializer_list>
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

// The call record, held open while MAPI is started.
CCallLog& CallLog();
// How many MAPIInitialize calls are not yet matched by MAPIUninitialize.
ULONG& Initializations();
void NoteMisuse(const std::string& what);
// Everything still alive, and the misuses seen since the last record, for the record MAPIUninitialize leaves.
Accounting TakeAccounting();

// Text conversions in the ANSI code page, as MAPI does them for its narrow interfaces.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);
bool SameTextNoCase(const std::wstring& a, const std::wstring& b);
// The same for text in the ANSI code page.
bool SameAnsiTextNoCase(const std::string& a, const std::string& b);
// A string argument that may be wide (MAPI_UNICODE in `flags`) or narrow, as ANSI; `present` tells null apart.
std::string AnsiArgument(const void* text, ULONG flags, bool* present = nullptr);
std::wstring WideArgument(const void* text, ULONG flags, bool* present = nullptr);

// Argument texts for the call record.
std::string Hex(ULONG value);
std::string QuoteAnsi(const void* text, ULONG flags);

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
    ULONG References() const { return references; }
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
    CCall(CObjectBase* object, const char* method, const std::string& arguments, const std::wstring& mailbox);
    CCall(CObjectBase* object, const char* method, const std::string& arguments);

    bool Refused() const { return matched && FAILED(fault.Result); }
    // A matched warning: the call does its work, as far as the warning says.
    bool Warned() const { return matched && !FAILED(fault.Result); }
    HRESULT End(HRESULT result = S_OK, const std::wstring& text = std::wstring());

private:
    CObjectBase* object;
    std::string line;
    std::wstring mailbox;
    bool onServer = false;
    bool matched = false;
    Fault fault;
};

// IUnknown for an object of the double that answers for the given interfaces.
template <class I>
class TUnknown : public I, public CObjectBase {
public:
    TUnknown(const char* kind, const std::wstring& mailbox, std::initializer_list<const IID*> interfaces)
        : CObjectBase(kind, mailbox), answers(interfaces)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_INVALIDARG;
        }
        *object = nullptr;
        for (const IID* answer : answers) {
            if (IsEqualIID(iid, *answer)) {
                *object = static_cast<I*>(this);
            }
        }
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<I*>(this);
        }
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        ++references;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    std::vector<const IID*> answers;
};

// A MAPI object: its failed calls leave an extended error behind.
template <class I>
class TObject : public TUnknown<I> {
public:
    using TUnknown<I>::TUnknown;

    STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) override
    {
        return this->ReportLastError(result, flags, error);
    }
};

// Fills `value` with `property` as the tag asks, turning one string type into the other; strings and bytes
// live on `parent`. No property, or one of another type, gives PT_ERROR with MAPI_E_NOT_FOUND.
bool FillValue(SPropValue& value, const Property* property, ULONG tag, void* parent);
// The property a caller handed over, or false for a type the double does not keep.
bool TakeValue(const SPropValue& value, Property& property);

// Property answers for an object with a fixed set of values (GetProps, GetPropList); the rest of IMAPIProp
// is read-only or unsupported.
template <class I>
class TPropObject : public TObject<I> {
public:
    using TObject<I>::TObject;

    STDMETHODIMP SaveChanges(ULONG flags) override
    {
        CCall call(this, "SaveChanges", "flags=" + Hex(flags));
        return call.End();
    }
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override;
    STDMETHODIMP GetPropList(ULONG flags, LPSPropTagArray* tags) override;
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override
    {
        return this->Unsupported("OpenProperty");
    }
    STDMETHODIMP SetProps(ULONG count, LPSPropValue, LPSPropProblemArray*) override
    {
        CCall call(this, "SetProps", "count=" + std::to_string(count));
        return call.End(MAPI_E_NO_ACCESS, L"The object is read-only.");
    }
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override
    {
        return this->Unsupported("DeleteProps");
    }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override
    {
        return this->Unsupported("CopyTo");
    }
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                           LPSPropProblemArray*) override
    {
        return this->Unsupported("CopyProps");
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override
    {
        return this->Unsupported("GetNamesFromIDs");
    }
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override
    {
        return this->Unsupported("GetIDsFromNames");
    }

protected:
    // The object's values as they stand now; an object that has gone answers the error instead.
    virtual HRESULT CurrentProperties(Properties& properties, std::wstring& text) = 0;
};

HRESULT AnswerProps(const Properties& properties, LPSPropTagArray tags, ULONG* count, LPSPropValue* values);
HRESULT AnswerPropList(const Properties& properties, LPSPropTagArray* tags);

template <class I>
STDMETHODIMP TPropObject<I>::GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values)
{
    const ULONG wanted = tags == nullptr ? 0 : tags->cValues;
    CCall call(this, "GetProps", "tags=" + std::to_string(wanted) + " flags=" + Hex(flags));
    if (count == nullptr || values == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *count = 0;
    *values = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    Properties properties;
    std::wstring text;
    const HRESULT current = CurrentProperties(properties, text);
    return call.End(FAILED(current) ? current : AnswerProps(properties, tags, count, values), text);
}

template <class I>
STDMETHODIMP TPropObject<I>::GetPropList(ULONG flags, LPSPropTagArray* tags)
{
    CCall call(this, "GetPropList", "flags=" + Hex(flags));
    if (tags == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *tags = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    Properties properties;
    std::wstring text;
    const HRESULT current = CurrentProperties(properties, text);
    return call.End(FAILED(current) ? current : AnswerPropList(properties, tags), text);
}

// A table over rows fixed when it is made, as real MAPI's snapshot tables are; `onServer` for a table the
// store keeps on the server, whose rows travel at QueryRows.
IMAPITable* NewTable(const std::wstring& mailbox, std::vector<Properties> rows, std::vector<ULONG> columns,
                     bool onServer = false);
// Column lists and restrictions as the call record shows them.
std::string DescribeColumns(const SPropTagArray* tags);
std::string DescribeRestriction(const SRestriction* restriction);

} // namespace MapiDouble
