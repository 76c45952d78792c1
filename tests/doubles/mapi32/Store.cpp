// IMsgStore, its Inbox as IMAPIFolder, IMessage and the IStream of a message's property. Messages live in the
// mailbox's state; a new message joins it at its first SaveChanges. Access follows the flags the objects were
// opened with.

#include "Double.h"

#include <algorithm>
#include <set>

namespace MapiDouble {

namespace {

constexpr wchar_t GoneText[] = L"The mailbox is not in the world.";
constexpr wchar_t ClosedText[] = L"The message was closed by its last SaveChanges.";

Message* FindMessage(Mailbox& mailbox, const std::wstring& id)
{
    const auto found = std::find_if(mailbox.Messages.begin(), mailbox.Messages.end(),
                                    [&](const Message& message) { return std::to_wstring(message.Id) == id; });
    return found == mailbox.Messages.end() ? nullptr : &*found;
}

// The index of the mailbox in the world as it stands, or none.
bool MailboxIndex(const CStateDirectory& state, const std::wstring& dn, size_t& index)
{
    const Mailbox* mailbox = FindMailbox(state.Mailboxes(), dn);
    index = mailbox == nullptr ? 0 : static_cast<size_t>(mailbox - state.Mailboxes().data());
    return mailbox != nullptr;
}

ULONG ValueSize(const Property& property)
{
    return static_cast<ULONG>(PROP_TYPE(property.Tag) == PT_UNICODE ? (property.Text.size() + 1) * sizeof(wchar_t)
                                                                    : property.Bytes.size() + 1);
}

class CMessage;

// Every message object alive, so that a delete can tell which messages are held open.
std::set<const CMessage*>& LiveMessages()
{
    static std::set<const CMessage*> messages;
    return messages;
}

class CMessage final : public TPropObject<IMessage> {
public:
    CMessage(const std::wstring& dn, bool isAssociated)
        : TPropObject("IMessage", dn, {&IID_IMessage, &IID_IMAPIProp}), associated(isAssociated)
    {
        LiveMessages().insert(this);
    }
    ~CMessage() override { LiveMessages().erase(this); }

    // Held open for changes: a store may keep a message saved with KEEP_OPEN_READONLY open read/write too.
    bool HeldOpen(const std::wstring& dn, ULONG messageId) const
    {
        return open && id == messageId && SameTextNoCase(MailboxDn(), dn);
    }

    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override;
    STDMETHODIMP SaveChanges(ULONG flags) override;
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override;
    STDMETHODIMP OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* object) override;
    UNSUPPORTED(GetAttachmentTable, ULONG, LPMAPITABLE*)
    UNSUPPORTED(OpenAttach, ULONG, LPCIID, ULONG, LPATTACH*)
    UNSUPPORTED(CreateAttach, LPCIID, ULONG, ULONG*, LPATTACH*)
    UNSUPPORTED(DeleteAttach, ULONG, ULONG, LPMAPIPROGRESS, ULONG)
    UNSUPPORTED(GetRecipientTable, ULONG, LPMAPITABLE*)
    UNSUPPORTED(ModifyRecipients, ULONG, LPADRLIST)
    UNSUPPORTED(SubmitMessage, ULONG)
    UNSUPPORTED(SetReadFlag, ULONG)

    // What a stream opened on the message wrote, as the value of `tag` until the next SaveChanges.
    void TakeStreamed(ULONG tag, const std::string& bytes)
    {
        Property property;
        property.Tag = tag;
        property.Text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        SetProperty(pending, property);
    }

private:
    // Why the message cannot be changed now, or S_OK.
    HRESULT Unchangeable(std::wstring& text) const
    {
        text = open ? L"The message is open for reading only." : ClosedText;
        return !open ? MAPI_E_INVALID_OBJECT : !writable ? MAPI_E_NO_ACCESS : S_OK;
    }

    ULONG id = 0; // 0 until the first SaveChanges puts the message into the mailbox
    bool associated;
    bool writable = true;
    bool open = true;
    Properties pending;
};

// Only the entry identifier, which is all the tool reads; a message not saved yet has none.
STDMETHODIMP CMessage::GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values)
{
    CCall call(this, "GetProps");
    if (tags == nullptr || count == nullptr || values == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *count = 0;
    *values = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    void* block = nullptr;
    if (FAILED(AllocateBlock(tags->cValues * sizeof(SPropValue), &block))) {
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    const Properties properties{BytesProperty(PR_ENTRYID, MakeEntryId('M', std::to_wstring(id), MailboxDn()))};
    *values = static_cast<LPSPropValue>(block);
    bool complete = true;
    for (ULONG index = 0; index < tags->cValues; ++index) {
        const ULONG tag = tags->aulPropTag[index];
        FillValue((*values)[index], id == 0 ? nullptr : FindProperty(properties, tag), tag, block);
        complete &= PROP_TYPE((*values)[index].ulPropTag) != PT_ERROR;
    }
    *count = tags->cValues;
    return call.End(complete ? S_OK : MAPI_W_ERRORS_RETURNED);
}

STDMETHODIMP CMessage::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems)
{
    CCall call(this, "SetProps");
    if (problems != nullptr) {
        *problems = nullptr;
    }
    if (values == nullptr || count == 0) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    if (call.Refused()) {
        return call.End();
    }
    std::wstring text;
    if (const HRESULT refused = Unchangeable(text)) {
        return call.End(refused, text);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Mailbox* mailbox = FindMailbox(state.Mailboxes(), MailboxDn());
    const ULONG limit = mailbox == nullptr ? 0 : mailbox->ValueLimit;
    std::vector<SPropProblem> found;
    for (ULONG index = 0; index < count; ++index) {
        Property property;
        if (!TakeValue(values[index], property)) {
            found.push_back(SPropProblem{index, values[index].ulPropTag, MAPI_E_INVALID_TYPE});
        } else if (ValueSize(property) > limit) {
            // Larger than the RPC buffer: reported here, while the call itself succeeds.
            found.push_back(SPropProblem{index, values[index].ulPropTag, MAPI_E_NOT_ENOUGH_MEMORY});
        } else {
            SetProperty(pending, property);
        }
    }
    void* block = nullptr;
    if (problems != nullptr && !found.empty() &&
        SUCCEEDED(AllocateBlock(CbNewSPropProblemArray(found.size()), &block))) {
        *problems = static_cast<LPSPropProblemArray>(block);
        (*problems)->cProblem = static_cast<ULONG>(found.size());
        std::copy(found.begin(), found.end(), (*problems)->aProblem);
    }
    return call.End();
}

// A property opened as a stream for writing; what was written becomes the property's value at Commit.
class CStream final : public TObject<IStream> {
public:
    CStream(CMessage* owner, ULONG propertyTag)
        : TObject("IStream", owner->MailboxDn(), {&IID_ISequentialStream, &IID_IStream}), message(owner),
          tag(propertyTag)
    {
        message->AddRef();
    }
    ~CStream() override { message->Release(); }

    UNSUPPORTED(Read, void*, ULONG, ULONG*)
    STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override
    {
        CCall call(this, "Write");
        if (written != nullptr) {
            *written = 0;
        }
        if (data == nullptr) {
            return call.End(STG_E_INVALIDPOINTER);
        }
        if (call.Refused()) {
            return call.End();
        }
        bytes.append(static_cast<const char*>(data), size);
        if (written != nullptr) {
            *written = size;
        }
        return call.End();
    }
    UNSUPPORTED(Seek, LARGE_INTEGER, DWORD, ULARGE_INTEGER*)
    UNSUPPORTED(SetSize, ULARGE_INTEGER)
    UNSUPPORTED(CopyTo, IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*)
    STDMETHODIMP Commit(DWORD) override
    {
        CCall call(this, "Commit");
        if (call.Refused()) {
            return call.End();
        }
        message->TakeStreamed(tag, bytes);
        return call.End();
    }
    UNSUPPORTED(Revert)
    UNSUPPORTED(LockRegion, ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
    UNSUPPORTED(UnlockRegion, ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
    UNSUPPORTED(Stat, STATSTG*, DWORD)
    UNSUPPORTED(Clone, IStream**)

private:
    CMessage* message;
    ULONG tag;
    std::string bytes;
};

STDMETHODIMP CMessage::OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* object)
{
    CCall call(this, "OpenProperty");
    if (object == nullptr || iid == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *object = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if (!IsEqualIID(*iid, IID_IStream)) {
        return call.End(MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    // Only what the tool asks for: a new wide value written through the stream.
    if ((flags & (MAPI_CREATE | MAPI_MODIFY)) != (MAPI_CREATE | MAPI_MODIFY) || PROP_TYPE(tag) != PT_UNICODE) {
        return call.End(MAPI_E_NO_SUPPORT, L"The double streams new wide values only.");
    }
    std::wstring text;
    if (const HRESULT refused = Unchangeable(text)) {
        return call.End(refused, text);
    }
    *object = static_cast<IStream*>(new CStream(this, tag));
    return call.End();
}

STDMETHODIMP CMessage::SaveChanges(ULONG flags)
{
    CCall call(this, "SaveChanges");
    if (call.Refused()) {
        return call.End();
    }
    std::wstring text;
    if (const HRESULT refused = Unchangeable(text)) {
        return call.End(refused, text);
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    size_t index = 0;
    if (!MailboxIndex(state, MailboxDn(), index)) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    bool deleted = false;
    state.ChangeMailbox(index, [&](Mailbox& changed) {
        if (id == 0) {
            id = changed.NextId++;
            changed.Messages.push_back(Message{id, associated, {}});
        }
        Message* message = FindMessage(changed, std::to_wstring(id));
        deleted = message == nullptr;
        for (size_t each = 0; !deleted && each < pending.size(); ++each) {
            SetProperty(message->Props, pending[each]);
        }
    });
    if (deleted) {
        return call.End(MAPI_E_OBJECT_DELETED, L"The message has been deleted.");
    }
    pending.clear();
    open = (flags & (KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE)) != 0;
    writable = (flags & KEEP_OPEN_READWRITE) != 0;
    return call.End();
}

class CFolder final : public TPropObject<IMAPIFolder> {
public:
    CFolder(const std::wstring& dn, bool canWrite)
        : TPropObject("IMAPIFolder", dn, {&IID_IMAPIFolder, &IID_IMAPIContainer, &IID_IMAPIProp}), writable(canWrite)
    {
    }

    STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* table) override;
    UNSUPPORTED(GetHierarchyTable, ULONG, LPMAPITABLE*)
    UNSUPPORTED(OpenEntry, ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*)
    UNSUPPORTED(SetSearchCriteria, LPSRestriction, LPENTRYLIST, ULONG)
    UNSUPPORTED(GetSearchCriteria, ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*)
    STDMETHODIMP CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* message) override;
    UNSUPPORTED(CopyMessages, LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG)
    STDMETHODIMP DeleteMessages(LPENTRYLIST list, ULONG uiParam, LPMAPIPROGRESS progress, ULONG flags) override;
    UNSUPPORTED(CreateFolder, ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER*)
    UNSUPPORTED(CopyFolder, ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG)
    UNSUPPORTED(DeleteFolder, ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG)
    UNSUPPORTED(SetReadFlags, LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
    UNSUPPORTED(GetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG*)
    UNSUPPORTED(SetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG, ULONG*)
    UNSUPPORTED(SaveContentsSort, LPSSortOrderSet, ULONG)
    UNSUPPORTED(EmptyFolder, ULONG, LPMAPIPROGRESS, ULONG)

private:
    bool writable;
};

STDMETHODIMP CFolder::GetContentsTable(ULONG flags, LPMAPITABLE* table)
{
    CCall call(this, "GetContentsTable");
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if ((flags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS | MAPI_UNICODE)) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
    }
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    std::vector<Properties> rows;
    for (const Message& message : mailbox->Messages) {
        if (message.Associated == ((flags & MAPI_ASSOCIATED) != 0)) {
            rows.push_back(message.Props);
            SetProperty(rows.back(),
                        BytesProperty(PR_ENTRYID, MakeEntryId('M', std::to_wstring(message.Id), MailboxDn())));
        }
    }
    const bool unicode = (flags & MAPI_UNICODE) != 0;
    *table = NewTable(MailboxDn(), rows, {PR_ENTRYID, unicode ? PR_SUBJECT_W : PR_SUBJECT_A}, true);
    return call.End();
}

STDMETHODIMP CFolder::CreateMessage(LPCIID, ULONG flags, LPMESSAGE* message)
{
    CCall call(this, "CreateMessage");
    if (message == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *message = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if ((flags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS)) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The folder is open for reading only.");
    }
    *message = new CMessage(MailboxDn(), (flags & MAPI_ASSOCIATED) != 0);
    return call.End();
}

STDMETHODIMP CFolder::DeleteMessages(LPENTRYLIST list, ULONG, LPMAPIPROGRESS, ULONG)
{
    CCall call(this, "DeleteMessages");
    if (list == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    if (call.Refused()) {
        return call.End();
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The folder is open for reading only.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    size_t index = 0;
    if (!MailboxIndex(state, MailboxDn(), index)) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    ULONG deleted = 0;
    state.ChangeMailbox(index, [&](Mailbox& changed) {
        // A partial completion the test asked for leaves the first listed message where it was.
        for (ULONG entry = call.Partly() ? 1 : 0; entry < list->cValues; ++entry) {
            EntryRef ref;
            Message* message = ParseEntryId(list->lpbin[entry].cb, list->lpbin[entry].lpb, ref) && ref.Type == 'M' &&
                                       SameTextNoCase(ref.Dn, MailboxDn())
                                   ? FindMessage(changed, ref.Part)
                                   : nullptr;
            // A message open with read/write access cannot be deleted.
            const auto heldOpen = [&](const CMessage* open) { return open->HeldOpen(MailboxDn(), message->Id); };
            if (message != nullptr && std::none_of(LiveMessages().begin(), LiveMessages().end(), heldOpen)) {
                changed.Messages.erase(changed.Messages.begin() + (message - changed.Messages.data()));
                ++deleted;
            }
        }
    });
    const HRESULT result =
        deleted == list->cValues ? S_OK : deleted == 0 ? MAPI_E_NOT_FOUND : MAPI_W_PARTIAL_COMPLETION;
    return call.End(result, L"Not every listed message could be deleted.");
}

class CStore final : public TPropObject<IMsgStore> {
public:
    CStore(const std::wstring& dn, const std::wstring& storeKind, bool canWrite)
        : TPropObject("IMsgStore", dn, {&IID_IMsgStore, &IID_IMAPIProp}), kind(storeKind), writable(canWrite)
    {
    }

    UNSUPPORTED(Advise, ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*)
    UNSUPPORTED(Unadvise, ULONG)
    UNSUPPORTED(CompareEntryIDs, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*)
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                           LPUNKNOWN* object) override;
    UNSUPPORTED(SetReceiveFolder, LPTSTR, ULONG, ULONG, LPENTRYID)
    STDMETHODIMP GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* size, LPENTRYID* entryId,
                                  LPTSTR* explicitClass) override;
    UNSUPPORTED(GetReceiveFolderTable, ULONG, LPMAPITABLE*)
    UNSUPPORTED(StoreLogoff, ULONG*)
    UNSUPPORTED(AbortSubmit, ULONG, LPENTRYID, ULONG)
    UNSUPPORTED(GetOutgoingQueue, ULONG, LPMAPITABLE*)
    UNSUPPORTED(SetLockState, LPMESSAGE, ULONG)
    UNSUPPORTED(FinishedMsg, ULONG, ULONG, LPENTRYID)
    UNSUPPORTED(NotifyNewMail, LPNOTIFICATION)

private:
    std::wstring kind;
    bool writable;
};

// Only the Inbox, as the receive folder gives it.
STDMETHODIMP CStore::OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type, LPUNKNOWN* object)
{
    CCall call(this, "OpenEntry");
    if (type == nullptr || object == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *object = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    EntryRef ref;
    if (!ParseEntryId(size, entryId, ref) || ref.Type != 'F' || !SameTextNoCase(ref.Dn, MailboxDn())) {
        return call.End(MAPI_E_INVALID_ENTRYID);
    }
    if (iid != nullptr && !IsEqualIID(*iid, IID_IMAPIFolder) && !IsEqualIID(*iid, IID_IMAPIContainer) &&
        !IsEqualIID(*iid, IID_IMAPIProp)) {
        return call.End(MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    if ((flags & MAPI_MODIFY) != 0 && !writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The store is open for reading only.");
    }
    *type = MAPI_FOLDER;
    *object =
        static_cast<IMAPIFolder*>(new CFolder(MailboxDn(), writable && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS))));
    return call.End();
}

STDMETHODIMP CStore::GetReceiveFolder(LPTSTR, ULONG, ULONG* size, LPENTRYID* entryId, LPTSTR* explicitClass)
{
    CCall call(this, "GetReceiveFolder");
    if (size == nullptr || entryId == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *size = 0;
    *entryId = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if (kind != L"private") {
        return call.End(MAPI_E_NO_SUPPORT, L"This store has no receive folders.");
    }
    if (explicitClass != nullptr) {
        return call.End(MAPI_E_NO_SUPPORT, L"The double names no message class.");
    }
    const std::string inbox = MakeEntryId('F', L"inbox", MailboxDn());
    void* block = nullptr;
    if (FAILED(AllocateBlock(static_cast<ULONG>(inbox.size()), &block))) {
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    std::copy(inbox.begin(), inbox.end(), static_cast<char*>(block));
    *size = static_cast<ULONG>(inbox.size());
    *entryId = static_cast<LPENTRYID>(block);
    return call.End();
}

} // namespace

IMsgStore* NewStore(const std::wstring& dn, const std::wstring& kind, bool writable)
{
    return new CStore(dn, kind, writable);
}

} // namespace MapiDouble
