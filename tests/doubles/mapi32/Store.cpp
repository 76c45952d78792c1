// IMsgStore, its Inbox as IMAPIFolder, and IMessage. Messages live in the mailbox's state; a new message
// joins it at its first SaveChanges. Access follows the flags the objects were opened with.

#include "World.h"

#include <algorithm>

namespace MapiDouble {

namespace {

constexpr wchar_t InboxPart[] = L"inbox";
constexpr ULONG ShowSoftDeletes = 0x00000002;
constexpr wchar_t GoneText[] = L"The mailbox is not in the world.";

Properties MessageProperties(const std::wstring& dn, const Message& message)
{
    Properties properties = message.Props;
    const std::string entryId = MakeEntryId('M', std::to_wstring(message.Id), dn);
    SetProperty(properties, BytesProperty(PR_ENTRYID, entryId));
    SetProperty(properties, BytesProperty(PR_INSTANCE_KEY, entryId));
    SetProperty(properties, NumberProperty(PR_MESSAGE_FLAGS, message.Associated ? MSGFLAG_ASSOCIATED : 0));
    SetProperty(properties, NumberProperty(PR_OBJECT_TYPE, MAPI_MESSAGE));
    return properties;
}

const Message* FindMessage(const Mailbox& mailbox, ULONG id)
{
    const auto found = std::find_if(mailbox.Messages.begin(), mailbox.Messages.end(),
                                    [&](const Message& message) { return message.Id == id; });
    return found == mailbox.Messages.end() ? nullptr : &*found;
}

Message* FindMessage(Mailbox& mailbox, ULONG id)
{
    return const_cast<Message*>(FindMessage(static_cast<const Mailbox&>(mailbox), id));
}

bool IsComputed(ULONG tag)
{
    return PROP_ID(tag) == PROP_ID(PR_ENTRYID) || PROP_ID(tag) == PROP_ID(PR_INSTANCE_KEY) ||
           PROP_ID(tag) == PROP_ID(PR_OBJECT_TYPE) || PROP_ID(tag) == PROP_ID(PR_MESSAGE_FLAGS);
}

ULONG ValueSize(const Property& property)
{
    switch (PROP_TYPE(property.Tag)) {
    case PT_UNICODE:
        return static_cast<ULONG>((property.Text.size() + 1) * sizeof(wchar_t));
    case PT_STRING8:
        return static_cast<ULONG>(property.Bytes.size() + 1);
    case PT_BINARY:
        return static_cast<ULONG>(property.Bytes.size());
    default:
        return sizeof(LONG);
    }
}

bool AnswersAny(LPCIID iid, std::initializer_list<const IID*> answers)
{
    if (iid == nullptr) {
        return true;
    }
    for (const IID* answer : answers) {
        if (IsEqualIID(*iid, *answer)) {
            return true;
        }
    }
    return false;
}

class CMessage final : public TPropObject<IMessage> {
public:
    CMessage(const std::wstring& dn, ULONG messageId, bool isAssociated, bool canWrite)
        : TPropObject("IMessage", dn, {&IID_IMessage, &IID_IMAPIProp}), id(messageId), associated(isAssociated),
          writable(canWrite)
    {
    }

    STDMETHODIMP SaveChanges(ULONG flags) override;
    STDMETHODIMP SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override;
    STDMETHODIMP OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* object) override;
    STDMETHODIMP GetAttachmentTable(ULONG, LPMAPITABLE*) override { return Unsupported("GetAttachmentTable"); }
    STDMETHODIMP OpenAttach(ULONG, LPCIID, ULONG, LPATTACH*) override { return Unsupported("OpenAttach"); }
    STDMETHODIMP CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH*) override { return Unsupported("CreateAttach"); }
    STDMETHODIMP DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG) override { return Unsupported("DeleteAttach"); }
    STDMETHODIMP GetRecipientTable(ULONG, LPMAPITABLE*) override { return Unsupported("GetRecipientTable"); }
    STDMETHODIMP ModifyRecipients(ULONG, LPADRLIST) override { return Unsupported("ModifyRecipients"); }
    STDMETHODIMP SubmitMessage(ULONG) override { return Unsupported("SubmitMessage"); }
    STDMETHODIMP SetReadFlag(ULONG) override { return Unsupported("SetReadFlag"); }

    // What a stream opened on the message wrote, as the value of `tag` until the next SaveChanges.
    void TakeStreamed(ULONG tag, const std::string& bytes);

protected:
    HRESULT CurrentProperties(Properties& properties, std::wstring& text) override;

private:
    ULONG id; // 0 until the first SaveChanges puts the message into the mailbox
    bool associated;
    bool writable;
    bool open = true;
    Properties pending;
};

HRESULT CMessage::CurrentProperties(Properties& properties, std::wstring& text)
{
    Message message{id, associated, {}};
    if (id != 0) {
        const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
        const Message* saved = mailbox == nullptr ? nullptr : FindMessage(*mailbox, id);
        if (saved == nullptr) {
            text = L"The message has been deleted.";
            return MAPI_E_OBJECT_DELETED;
        }
        message = *saved;
    }
    for (const Property& property : pending) {
        SetProperty(message.Props, property);
    }
    properties = MessageProperties(MailboxDn(), message);
    if (id == 0) {
        // Not in the mailbox yet, so without an identity.
        properties.erase(std::remove_if(properties.begin(), properties.end(),
                                        [](const Property& property) {
                                            return PROP_ID(property.Tag) == PROP_ID(PR_ENTRYID) ||
                                                   PROP_ID(property.Tag) == PROP_ID(PR_INSTANCE_KEY);
                                        }),
                         properties.end());
    }
    return S_OK;
}

STDMETHODIMP CMessage::SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems)
{
    std::string tags;
    for (ULONG index = 0; values != nullptr && index < count; ++index) {
        tags += (index == 0 ? "" : ",") + Hex(values[index].ulPropTag);
    }
    CCall call(this, "SetProps", "tags=" + tags);
    if (problems != nullptr) {
        *problems = nullptr;
    }
    if (values == nullptr || count == 0) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    if (call.Refused()) {
        return call.End();
    }
    if (!open) {
        return call.End(MAPI_E_INVALID_OBJECT, L"The message was closed by its last SaveChanges.");
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The message is open for reading only.");
    }
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
    const ULONG limit = mailbox == nullptr ? 0 : mailbox->ValueLimit;
    std::vector<SPropProblem> found;
    for (ULONG index = 0; index < count; ++index) {
        Property property;
        if (IsComputed(values[index].ulPropTag)) {
            found.push_back(SPropProblem{index, values[index].ulPropTag, MAPI_E_COMPUTED});
        } else if (!TakeValue(values[index], property)) {
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

void CMessage::TakeStreamed(ULONG tag, const std::string& bytes)
{
    Property property;
    property.Tag = tag;
    if (PROP_TYPE(tag) == PT_UNICODE) {
        property.Text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    } else {
        property.Bytes = bytes;
    }
    SetProperty(pending, property);
}

// A property opened as a stream for writing; what was written becomes the property's value at Commit.
class CStream final : public TUnknown<IStream> {
public:
    CStream(CMessage* owner, ULONG propertyTag)
        : TUnknown("IStream", owner->MailboxDn(), {&IID_ISequentialStream, &IID_IStream}), message(owner),
          tag(propertyTag)
    {
        message->AddRef();
    }
    ~CStream() override { message->Release(); }

    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return Unsupported("Read"); }
    STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override
    {
        CCall call(this, "Write", "bytes=" + std::to_string(size));
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
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return Unsupported("Seek"); }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return Unsupported("SetSize"); }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return Unsupported("CopyTo");
    }
    STDMETHODIMP Commit(DWORD flags) override
    {
        CCall call(this, "Commit", "flags=" + Hex(flags));
        if (call.Refused()) {
            return call.End();
        }
        message->TakeStreamed(tag, bytes);
        return call.End();
    }
    STDMETHODIMP Revert() override { return Unsupported("Revert"); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Unsupported("LockRegion"); }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Unsupported("UnlockRegion"); }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return Unsupported("Stat"); }
    STDMETHODIMP Clone(IStream**) override { return Unsupported("Clone"); }

private:
    CMessage* message;
    ULONG tag;
    std::string bytes;
};

STDMETHODIMP CMessage::OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* object)
{
    CCall call(this, "OpenProperty", "tag=" + Hex(tag) + " options=" + Hex(options) + " flags=" + Hex(flags));
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
    // Only what the tool asks for: a new value written through the stream.
    if ((flags & (MAPI_CREATE | MAPI_MODIFY)) != (MAPI_CREATE | MAPI_MODIFY)) {
        return call.End(MAPI_E_NO_SUPPORT, L"The double streams new values only.");
    }
    if (!open) {
        return call.End(MAPI_E_INVALID_OBJECT, L"The message was closed by its last SaveChanges.");
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The message is open for reading only.");
    }
    *object = static_cast<IStream*>(new CStream(this, tag));
    return call.End();
}

STDMETHODIMP CMessage::SaveChanges(ULONG flags)
{
    CCall call(this, "SaveChanges", "flags=" + Hex(flags) + (id == 0 ? " new" : " id=" + std::to_string(id)));
    if (call.Refused()) {
        return call.End();
    }
    if (!open) {
        return call.End(MAPI_E_INVALID_OBJECT, L"The message was closed by its last SaveChanges.");
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The message is open for reading only.");
    }
    const CStateDirectory state = CStateDirectory::FromEnvironment();
    const Mailbox* mailbox = FindMailbox(state.Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    if (id != 0 && FindMessage(*mailbox, id) == nullptr) {
        return call.End(MAPI_E_OBJECT_DELETED, L"The message has been deleted.");
    }
    state.ChangeMailbox(mailbox - state.Mailboxes().data(), [&](Mailbox& changed) {
        if (id == 0) {
            id = changed.NextId++;
            changed.Messages.push_back(Message{id, associated, {}});
        }
        Message* message = FindMessage(changed, id);
        for (const Property& property : pending) {
            SetProperty(message->Props, property);
        }
    });
    pending.clear();
    open = (flags & (KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE)) != 0;
    writable = (flags & KEEP_OPEN_READWRITE) != 0;
    return call.End();
}

// Opens what an entry identifier of the mailbox names, as stores and folders do.
HRESULT OpenMailboxEntry(const std::wstring& dn, bool parentWritable, const EntryRef& ref, LPCIID iid, ULONG flags,
                         ULONG* type, LPUNKNOWN* object, std::wstring& text);

class CFolder final : public TPropObject<IMAPIFolder> {
public:
    CFolder(const std::wstring& dn, bool canWrite)
        : TPropObject("IMAPIFolder", dn, {&IID_IMAPIFolder, &IID_IMAPIContainer, &IID_IMAPIProp}), writable(canWrite)
    {
    }

    STDMETHODIMP GetContentsTable(ULONG flags, LPMAPITABLE* table) override;
    STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE*) override { return Unsupported("GetHierarchyTable"); }
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                           LPUNKNOWN* object) override;
    STDMETHODIMP SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override
    {
        return Unsupported("SetSearchCriteria");
    }
    STDMETHODIMP GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override
    {
        return Unsupported("GetSearchCriteria");
    }
    STDMETHODIMP CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* message) override;
    STDMETHODIMP CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG) override
    {
        return Unsupported("CopyMessages");
    }
    STDMETHODIMP DeleteMessages(LPENTRYLIST list, ULONG uiParam, LPMAPIPROGRESS progress, ULONG flags) override;
    STDMETHODIMP CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER*) override
    {
        return Unsupported("CreateFolder");
    }
    STDMETHODIMP CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG) override
    {
        return Unsupported("CopyFolder");
    }
    STDMETHODIMP DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG) override
    {
        return Unsupported("DeleteFolder");
    }
    STDMETHODIMP SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) override
    {
        return Unsupported("SetReadFlags");
    }
    STDMETHODIMP GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return Unsupported("GetMessageStatus"); }
    STDMETHODIMP SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override
    {
        return Unsupported("SetMessageStatus");
    }
    STDMETHODIMP SaveContentsSort(LPSSortOrderSet, ULONG) override { return Unsupported("SaveContentsSort"); }
    STDMETHODIMP EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG) override { return Unsupported("EmptyFolder"); }

protected:
    HRESULT CurrentProperties(Properties& properties, std::wstring& text) override;

private:
    bool writable;
};

HRESULT CFolder::CurrentProperties(Properties& properties, std::wstring& text)
{
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        text = GoneText;
        return MAPI_E_NOT_FOUND;
    }
    const auto associated = std::count_if(mailbox->Messages.begin(), mailbox->Messages.end(),
                                          [](const Message& message) { return message.Associated; });
    properties = {BytesProperty(PR_ENTRYID, MakeEntryId('F', InboxPart, MailboxDn())),
                  UnicodeProperty(PR_DISPLAY_NAME_W, L"Inbox"), NumberProperty(PR_OBJECT_TYPE, MAPI_FOLDER),
                  NumberProperty(PR_CONTENT_COUNT, static_cast<LONG>(mailbox->Messages.size() - associated)),
                  NumberProperty(PR_ASSOC_CONTENT_COUNT, static_cast<LONG>(associated))};
    return S_OK;
}

STDMETHODIMP CFolder::GetContentsTable(ULONG flags, LPMAPITABLE* table)
{
    CCall call(this, "GetContentsTable", "flags=" + Hex(flags));
    if (table == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *table = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    if ((flags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS | MAPI_UNICODE | ShowSoftDeletes)) != 0) {
        return call.End(MAPI_E_UNKNOWN_FLAGS);
    }
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    const bool associated = (flags & MAPI_ASSOCIATED) != 0;
    std::vector<Properties> rows;
    for (const Message& message : mailbox->Messages) {
        if (message.Associated == associated) {
            rows.push_back(MessageProperties(MailboxDn(), message));
        }
    }
    const bool unicode = (flags & MAPI_UNICODE) != 0;
    *table = NewTable(MailboxDn(), rows,
                      {PR_ENTRYID, unicode ? PR_SUBJECT_W : PR_SUBJECT_A,
                       unicode ? PR_MESSAGE_CLASS_W : PR_MESSAGE_CLASS_A, PR_MESSAGE_FLAGS},
                      true);
    return call.End();
}

STDMETHODIMP CFolder::OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                                LPUNKNOWN* object)
{
    EntryRef ref;
    const bool known = ParseEntryId(size, entryId, ref);
    CCall call(this, "OpenEntry", std::string("entry=") + (known ? ref.Type : '?') + " flags=" + Hex(flags));
    if (type == nullptr || object == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *object = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    std::wstring text;
    const HRESULT result = known ? OpenMailboxEntry(MailboxDn(), writable, ref, iid, flags, type, object, text)
                                 : MAPI_E_INVALID_ENTRYID;
    return call.End(result, text);
}

STDMETHODIMP CFolder::CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* message)
{
    CCall call(this, "CreateMessage", "flags=" + Hex(flags));
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
    if (!AnswersAny(iid, {&IID_IMessage, &IID_IMAPIProp})) {
        return call.End(MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    if (!writable) {
        return call.End(MAPI_E_NO_ACCESS, L"The folder is open for reading only.");
    }
    *message = new CMessage(MailboxDn(), 0, (flags & MAPI_ASSOCIATED) != 0, true);
    return call.End();
}

STDMETHODIMP CFolder::DeleteMessages(LPENTRYLIST list, ULONG, LPMAPIPROGRESS, ULONG flags)
{
    std::vector<EntryRef> refs(list == nullptr ? 0 : list->cValues);
    std::string ids;
    for (size_t index = 0; index < refs.size(); ++index) {
        const bool known = ParseEntryId(list->lpbin[index].cb, list->lpbin[index].lpb, refs[index]);
        ids += (index == 0 ? "" : ",") + (known && refs[index].Type == 'M' ? ToAnsi(refs[index].Part) : "?");
    }
    CCall call(this, "DeleteMessages", "ids=" + ids + " flags=" + Hex(flags));
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
    const Mailbox* mailbox = FindMailbox(state.Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        return call.End(MAPI_E_NOT_FOUND, GoneText);
    }
    bool partial = false;
    // A partial completion the test asked for leaves the first listed message where it was.
    const size_t first = call.Warned() ? 1 : 0;
    state.ChangeMailbox(mailbox - state.Mailboxes().data(), [&](Mailbox& changed) {
        for (const EntryRef& ref : std::vector<EntryRef>(refs.begin() + std::min(first, refs.size()), refs.end())) {
            Message* message = ref.Type == 'M' && SameTextNoCase(ref.Dn, MailboxDn())
                                   ? FindMessage(changed, std::wcstoul(ref.Part.c_str(), nullptr, 10))
                                   : nullptr;
            if (message == nullptr) {
                partial = true;
                continue;
            }
            changed.Messages.erase(changed.Messages.begin() + (message - changed.Messages.data()));
        }
    });
    return partial ? call.End(MAPI_W_PARTIAL_COMPLETION, L"Some of the messages were not in the folder.") : call.End();
}

class CStore final : public TPropObject<IMsgStore> {
public:
    CStore(const std::wstring& dn, const std::wstring& storeKind, bool canWrite)
        : TPropObject("IMsgStore", dn, {&IID_IMsgStore, &IID_IMAPIProp}), kind(storeKind), writable(canWrite)
    {
    }

    STDMETHODIMP Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*) override { return Unsupported("Advise"); }
    STDMETHODIMP Unadvise(ULONG) override { return Unsupported("Unadvise"); }
    STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override
    {
        return Unsupported("CompareEntryIDs");
    }
    STDMETHODIMP OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                           LPUNKNOWN* object) override;
    STDMETHODIMP SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return Unsupported("SetReceiveFolder"); }
    STDMETHODIMP GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* size, LPENTRYID* entryId,
                                  LPTSTR* explicitClass) override;
    STDMETHODIMP GetReceiveFolderTable(ULONG, LPMAPITABLE*) override { return Unsupported("GetReceiveFolderTable"); }
    STDMETHODIMP StoreLogoff(ULONG*) override { return Unsupported("StoreLogoff"); }
    STDMETHODIMP AbortSubmit(ULONG, LPENTRYID, ULONG) override { return Unsupported("AbortSubmit"); }
    STDMETHODIMP GetOutgoingQueue(ULONG, LPMAPITABLE*) override { return Unsupported("GetOutgoingQueue"); }
    STDMETHODIMP SetLockState(LPMESSAGE, ULONG) override { return Unsupported("SetLockState"); }
    STDMETHODIMP FinishedMsg(ULONG, ULONG, LPENTRYID) override { return Unsupported("FinishedMsg"); }
    STDMETHODIMP NotifyNewMail(LPNOTIFICATION) override { return Unsupported("NotifyNewMail"); }

protected:
    HRESULT CurrentProperties(Properties& properties, std::wstring& text) override;

private:
    std::wstring kind;
    bool writable;
};

HRESULT CStore::CurrentProperties(Properties& properties, std::wstring& text)
{
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), MailboxDn());
    if (mailbox == nullptr) {
        text = GoneText;
        return MAPI_E_NOT_FOUND;
    }
    properties = StoreProperties(*mailbox, kind, false);
    return S_OK;
}

STDMETHODIMP CStore::OpenEntry(ULONG size, LPENTRYID entryId, LPCIID iid, ULONG flags, ULONG* type,
                               LPUNKNOWN* object)
{
    EntryRef ref;
    const bool known = ParseEntryId(size, entryId, ref);
    CCall call(this, "OpenEntry", std::string("entry=") + (known ? ref.Type : '?') + " flags=" + Hex(flags));
    if (type == nullptr || object == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *object = nullptr;
    if (call.Refused()) {
        return call.End();
    }
    std::wstring text;
    const HRESULT result = known && kind == L"private"
                               ? OpenMailboxEntry(MailboxDn(), writable, ref, iid, flags, type, object, text)
                               : MAPI_E_INVALID_ENTRYID;
    return call.End(result, text);
}

STDMETHODIMP CStore::GetReceiveFolder(LPTSTR messageClass, ULONG flags, ULONG* size, LPENTRYID* entryId,
                                      LPTSTR* explicitClass)
{
    CCall call(this, "GetReceiveFolder", "class=" + QuoteAnsi(messageClass, flags) + " flags=" + Hex(flags));
    if (size == nullptr || entryId == nullptr) {
        return call.End(MAPI_E_INVALID_PARAMETER);
    }
    *size = 0;
    *entryId = nullptr;
    if (explicitClass != nullptr) {
        *explicitClass = nullptr;
    }
    if (call.Refused()) {
        return call.End();
    }
    if (kind != L"private") {
        return call.End(MAPI_E_NO_SUPPORT, L"This store has no receive folders.");
    }
    const std::string inbox = MakeEntryId('F', InboxPart, MailboxDn());
    void* block = nullptr;
    void* classBlock = nullptr;
    if (FAILED(AllocateBlock(static_cast<ULONG>(inbox.size()), &block)) ||
        (explicitClass != nullptr && FAILED(AllocateBlock(sizeof(wchar_t), &classBlock)))) {
        FreeBlock(block);
        return call.End(MAPI_E_NOT_ENOUGH_MEMORY);
    }
    std::copy(inbox.begin(), inbox.end(), static_cast<char*>(block));
    *size = static_cast<ULONG>(inbox.size());
    *entryId = static_cast<LPENTRYID>(block);
    if (explicitClass != nullptr) {
        *explicitClass = static_cast<LPTSTR>(classBlock); // the default class, which is the empty one
    }
    return call.End();
}

HRESULT OpenMailboxEntry(const std::wstring& dn, bool parentWritable, const EntryRef& ref, LPCIID iid, ULONG flags,
                         ULONG* type, LPUNKNOWN* object, std::wstring& text)
{
    if (!SameTextNoCase(ref.Dn, dn) || (ref.Type != 'F' && ref.Type != 'M')) {
        return MAPI_E_INVALID_ENTRYID;
    }
    if ((flags & MAPI_MODIFY) != 0 && !parentWritable) {
        text = L"The store is open for reading only.";
        return MAPI_E_NO_ACCESS;
    }
    const bool writable = parentWritable && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    if (ref.Type == 'F') {
        if (!AnswersAny(iid, {&IID_IMAPIFolder, &IID_IMAPIContainer, &IID_IMAPIProp})) {
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        *type = MAPI_FOLDER;
        *object = static_cast<IMAPIFolder*>(new CFolder(dn, writable));
        return S_OK;
    }
    const Mailbox* mailbox = FindMailbox(CStateDirectory::FromEnvironment().Mailboxes(), dn);
    const Message* message =
        mailbox == nullptr ? nullptr : FindMessage(*mailbox, std::wcstoul(ref.Part.c_str(), nullptr, 10));
    if (message == nullptr) {
        text = L"The message has been deleted.";
        return MAPI_E_NOT_FOUND;
    }
    if (!AnswersAny(iid, {&IID_IMessage, &IID_IMAPIProp})) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    *type = MAPI_MESSAGE;
    *object = static_cast<IMessage*>(new CMessage(dn, message->Id, message->Associated, writable));
    return S_OK;
}

} // namespace

IMsgStore* NewStore(const std::wstring& dn, const std::wstring& kind, bool writable)
{
    return new CStore(dn, kind, writable);
}

} // namespace MapiDouble
