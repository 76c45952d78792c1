#include "World.h"

#include <algorithm>
#include <cstring>

namespace MapiDouble {

namespace {

constexpr char EntryIdMark[] = "BMD1";
constexpr size_t EntryIdHead = 4 + sizeof EntryIdMark - 1; // the ENTRYID flags, then the mark

struct StoreKind {
    const wchar_t* Name;
    unsigned char Provider[16];
};

// The provider UIDs real stores of these kinds carry in PR_MDB_PROVIDER.
constexpr StoreKind StoreKinds[] = {
    {L"private", {0x54, 0x94, 0xA1, 0xC0, 0x29, 0x7F, 0x10, 0x1B, 0xA5, 0x87, 0x08, 0x00, 0x2B, 0x2A, 0x25, 0x17}},
    {L"delegate", {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE, 0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2}},
    {L"unavailable", {0x9E, 0xB4, 0x77, 0x00, 0x74, 0xE4, 0x11, 0xCE, 0x8C, 0x5E, 0x00, 0xAA, 0x00, 0x42, 0x54, 0xE2}},
    {L"pst", {0x4E, 0x49, 0x54, 0x41, 0xF9, 0xBF, 0xB8, 0x01, 0x00, 0xAA, 0x00, 0x37, 0xD9, 0x6E, 0x00, 0x00}},
    {L"public", {0x78, 0xB2, 0xFA, 0x70, 0xAF, 0xF7, 0x11, 0xCD, 0x9B, 0xC8, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}},
};

std::string Utf8(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    }
    return utf8;
}

std::wstring FromUtf8(const std::string& text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], size);
    }
    return wide;
}

std::string ProviderOf(const std::wstring& kind)
{
    for (const StoreKind& known : StoreKinds) {
        if (kind == known.Name) {
            return std::string(reinterpret_cast<const char*>(known.Provider), sizeof known.Provider);
        }
    }
    return "unknown provider";
}

std::wstring StoreDisplayName(const Mailbox& mailbox, const std::wstring& kind)
{
    if (kind == L"public") {
        return L"Public Folders";
    }
    if (kind == L"pst") {
        return L"Personal Folders";
    }
    return L"Mailbox - " + mailbox.Name + (kind == L"private" ? L"" : L" (" + kind + L")");
}

bool NameMatches(const Mailbox& mailbox, const std::wstring& wanted)
{
    if (!wanted.empty() && wanted[0] == L'=') {
        return SameTextNoCase(mailbox.Name, wanted.substr(1));
    }
    return !wanted.empty() && (SameTextNoCase(mailbox.Dn, wanted) ||
                               (wanted.size() <= mailbox.Name.size() &&
                                SameTextNoCase(mailbox.Name.substr(0, wanted.size()), wanted)));
}

} // namespace

HRESULT ResolveExchangeMailbox(const Property* server, const Property* name, std::wstring& dn)
{
    if (server == nullptr || name == nullptr) {
        return MAPI_E_UNCONFIGURED;
    }
    const std::wstring serverName = FromAnsi(server->Bytes);
    const std::wstring wanted = FromAnsi(name->Bytes);
    bool serverKnown = false;
    size_t matches = 0;
    for (const Mailbox& mailbox : CStateDirectory::FromEnvironment().Mailboxes()) {
        if (SameTextNoCase(mailbox.Server, serverName)) {
            serverKnown = true;
            if (NameMatches(mailbox, wanted)) {
                ++matches;
                dn = mailbox.Dn;
            }
        }
    }
    if (!serverKnown) {
        return MAPI_E_NETWORK_ERROR;
    }
    return matches == 0 ? MailNameNotFound : matches == 1 ? S_OK : MAPI_E_AMBIGUOUS_RECIP;
}

std::string MakeEntryId(char type, const std::wstring& part, const std::wstring& dn)
{
    return std::string(4, '\0') + EntryIdMark + type + ":" + Utf8(part) + ":" + Utf8(dn);
}

bool ParseEntryId(ULONG size, const void* entryId, EntryRef& ref)
{
    if (entryId == nullptr || size < EntryIdHead + 4) {
        return false;
    }
    const std::string bytes(static_cast<const char*>(entryId), size);
    if (bytes.compare(0, EntryIdHead, std::string(4, '\0') + EntryIdMark) != 0 || bytes[EntryIdHead + 1] != ':') {
        return false;
    }
    const size_t second = bytes.find(':', EntryIdHead + 2);
    if (second == std::string::npos) {
        return false;
    }
    ref.Type = bytes[EntryIdHead];
    ref.Part = FromUtf8(bytes.substr(EntryIdHead + 2, second - EntryIdHead - 2));
    ref.Dn = FromUtf8(bytes.substr(second + 1));
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
    const auto found = std::find_if(profiles.begin(), profiles.end(),
                                    [&](const Profile& profile) { return SameAnsiTextNoCase(profile.Name, name); });
    return found == profiles.end() ? nullptr : &*found;
}

const Service* ExchangeService(const Profile& profile)
{
    for (const Service& service : profile.Services) {
        if (SameAnsiTextNoCase(service.Name, ExchangeServiceName)) {
            return &service;
        }
    }
    return nullptr;
}

std::wstring ProfileMailbox(const std::string& profileName)
{
    const Profile* profile = FindProfile(CStateDirectory::FromEnvironment().Profiles(), profileName);
    const Service* service = profile == nullptr ? nullptr : ExchangeService(*profile);
    const Property* name = service == nullptr ? nullptr : FindProperty(service->Props, PrProfileUnresolvedName);
    return name == nullptr ? std::wstring() : FromAnsi(name->Bytes);
}

Properties StoreProperties(const Mailbox& mailbox, const std::wstring& kind, bool asTableRow)
{
    const bool isDefault = kind == mailbox.DefaultStore;
    const std::string recordKey = MakeEntryId('R', kind, mailbox.Dn);
    Properties properties{
        BytesProperty(PR_ENTRYID, MakeEntryId(asTableRow ? 'W' : 'S', kind, mailbox.Dn)),
        BytesProperty(PR_RECORD_KEY, recordKey),
        UnicodeProperty(PR_DISPLAY_NAME_W, StoreDisplayName(mailbox, kind)),
        BytesProperty(PR_MDB_PROVIDER, ProviderOf(kind)),
        NumberProperty(PR_DEFAULT_STORE, isDefault),
        NumberProperty(PR_RESOURCE_FLAGS, (isDefault ? STATUS_DEFAULT_STORE : 0) |
                                              (kind == L"private" ? STATUS_PRIMARY_STORE : STATUS_NO_DEFAULT_STORE)),
        NumberProperty(PR_OBJECT_TYPE, MAPI_STORE),
    };
    if (asTableRow) {
        properties.push_back(BytesProperty(PR_INSTANCE_KEY, recordKey));
    }
    return properties;
}

} // namespace MapiDouble
