#include "State.h"

#include "StateText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace MapiDouble {

namespace {

constexpr wchar_t MailboxesFile[] = L"mailboxes.txt";
constexpr wchar_t ProfilesFile[] = L"profiles.txt";
constexpr wchar_t DelayFile[] = L"server-delay-ms.txt";
constexpr wchar_t FaultsFile[] = L"faults.txt";
constexpr wchar_t UsesFile[] = L"uses.txt";
constexpr wchar_t AccountingFile[] = L"accounting.txt";
constexpr wchar_t CallsFile[] = L"calls.txt";

struct NamedTag {
    const char* Name;
    ULONG Tag;
};

// Tags the world commonly holds, by name; any other is written as its hexadecimal value.
constexpr NamedTag NamedTags[] = {
    {"PR_SUBJECT_W", 0x0037001F},
    {"PR_SUBJECT_A", 0x0037001E},
    {"PR_BODY_W", 0x1000001F},
    {"PR_BODY_A", 0x1000001E},
    {"PR_MESSAGE_CLASS_W", 0x001A001F},
    {"PR_MESSAGE_CLASS_A", 0x001A001E},
    {"PR_DISPLAY_NAME_W", 0x3001001F},
    {"PR_DISPLAY_NAME_A", 0x3001001E},
    {"PR_PROFILE_UNRESOLVED_NAME", 0x6607001E},
    {"PR_PROFILE_UNRESOLVED_SERVER", 0x6608001E},
};

ULONG ParseNumber(const std::string* text, ULONG fallback)
{
    return text == nullptr || text->empty() ? fallback : std::strtoul(text->c_str(), nullptr, 0);
}

std::wstring WideValue(const Block& block, const char* key, const std::wstring& fallback = L"")
{
    const std::string* text = block.Find(key);
    return text == nullptr ? fallback : UnescapeWide(*text);
}

std::string BytesValue(const Block& block, const char* key)
{
    const std::string* text = block.Find(key);
    return text == nullptr ? std::string() : UnescapeBytes(*text);
}

std::vector<std::wstring> SplitList(const std::wstring& text)
{
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(L',', start), text.size());
        if (comma > start) {
            items.push_back(text.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return items;
}

std::wstring JoinList(const std::vector<std::wstring>& items)
{
    std::wstring text;
    for (const std::wstring& item : items) {
        text += (text.empty() ? L"" : L",") + item;
    }
    return text;
}

// Every entry whose key names a property.
void ReadProperties(const Block& block, Properties& properties)
{
    for (const auto& entry : block.Entries) {
        ULONG tag = 0;
        if (PropertyTagFromKey(entry.first, tag)) {
            SetProperty(properties, ParseValue(tag, entry.second));
        }
    }
}

void WriteProperties(Block& block, const Properties& properties)
{
    for (const Property& property : properties) {
        block.Add(PropertyKey(property.Tag), FormatValue(property));
    }
}

std::vector<Mailbox> ParseMailboxes(const std::string& text)
{
    std::vector<Mailbox> mailboxes;
    for (const Block& block : ParseBlocks(text)) {
        if (block.Kind == "mailbox") {
            Mailbox mailbox;
            mailbox.Server = WideValue(block, "server");
            mailbox.Dn = WideValue(block, "dn");
            mailbox.Name = WideValue(block, "name", mailbox.Dn.substr(mailbox.Dn.find_last_of(L'=') + 1));
            mailbox.Stores = SplitList(WideValue(block, "stores", L"private"));
            mailbox.DefaultStore = WideValue(block, "default", L"private");
            mailbox.ValueLimit = ParseNumber(block.Find("limit"), mailbox.ValueLimit);
            mailbox.NextId = ParseNumber(block.Find("next"), 0);
            mailboxes.push_back(mailbox);
        } else if (block.Kind == "message" && !mailboxes.empty()) {
            Message message;
            message.Id = ParseNumber(block.Find("id"), 0);
            message.Associated = ParseNumber(block.Find("associated"), 0) != 0;
            ReadProperties(block, message.Props);
            mailboxes.back().Messages.push_back(message);
        }
    }
    for (Mailbox& mailbox : mailboxes) {
        for (const Message& message : mailbox.Messages) {
            mailbox.NextId = std::max(mailbox.NextId, message.Id + 1);
        }
        mailbox.NextId = std::max<ULONG>(mailbox.NextId, 1);
        // A message seeded without an id gets the next free one.
        for (Message& message : mailbox.Messages) {
            if (message.Id == 0) {
                message.Id = mailbox.NextId++;
            }
        }
    }
    return mailboxes;
}

// A mailbox and its messages, as blocks.
std::string FormatMailbox(const Mailbox& mailbox)
{
    std::vector<Block> blocks;
    Block block{"mailbox", {}};
    block.Add("server", EscapeWide(mailbox.Server));
    block.Add("dn", EscapeWide(mailbox.Dn));
    block.Add("name", EscapeWide(mailbox.Name));
    block.Add("stores", EscapeWide(JoinList(mailbox.Stores)));
    block.Add("default", EscapeWide(mailbox.DefaultStore));
    block.Add("limit", std::to_string(mailbox.ValueLimit));
    block.Add("next", std::to_string(mailbox.NextId));
    blocks.push_back(block);
    for (const Message& message : mailbox.Messages) {
        Block messageBlock{"message", {}};
        messageBlock.Add("id", std::to_string(message.Id));
        messageBlock.Add("associated", message.Associated ? "1" : "0");
        WriteProperties(messageBlock, message.Props);
        blocks.push_back(messageBlock);
    }
    return FormatBlocks(blocks);
}

std::vector<Profile> ParseProfiles(const std::string& text)
{
    std::vector<Profile> profiles;
    for (const Block& block : ParseBlocks(text)) {
        if (block.Kind == "profile") {
            profiles.push_back(Profile{BytesValue(block, "name"), {}});
        } else if (block.Kind == "service" && !profiles.empty()) {
            Service service;
            service.Name = BytesValue(block, "name");
            service.DisplayName = BytesValue(block, "display");
            const std::string* uid = block.Find("uid");
            service.Uid = uid == nullptr ? std::string() : BytesFromHex(*uid);
            ReadProperties(block, service.Props);
            profiles.back().Services.push_back(service);
        }
    }
    return profiles;
}

// A profile and its services, as blocks.
std::string FormatProfile(const Profile& profile)
{
    std::vector<Block> blocks{Block{"profile", {{"name", EscapeBytes(profile.Name)}}}};
    for (const Service& service : profile.Services) {
        Block block{"service", {}};
        block.Add("name", EscapeBytes(service.Name));
        block.Add("display", EscapeBytes(service.DisplayName));
        block.Add("uid", HexBytes(service.Uid));
        WriteProperties(block, service.Props);
        blocks.push_back(block);
    }
    return FormatBlocks(blocks);
}

std::vector<Fault> ParseFaults(const std::string& text)
{
    std::vector<Fault> faults;
    for (const Block& block : ParseBlocks(text)) {
        if (block.Kind == "fault") {
            Fault fault;
            fault.Call = WideValue(block, "call");
            fault.Result = static_cast<HRESULT>(ParseNumber(block.Find("result"), static_cast<ULONG>(E_FAIL)));
            fault.Use = ParseNumber(block.Find("use"), 0);
            fault.Mailbox = WideValue(block, "mailbox");
            fault.Text = WideValue(block, "text");
            faults.push_back(fault);
        }
    }
    return faults;
}

std::string FormatFault(const Fault& fault)
{
    Block block{"fault", {}};
    block.Add("call", EscapeWide(fault.Call));
    block.Add("result", HexResult(fault.Result));
    if (fault.Use != 0) {
        block.Add("use", std::to_string(fault.Use));
    }
    if (!fault.Mailbox.empty()) {
        block.Add("mailbox", EscapeWide(fault.Mailbox));
    }
    if (!fault.Text.empty()) {
        block.Add("text", EscapeWide(fault.Text));
    }
    return FormatBlocks({block});
}

// Entries one after another, their blocks separated by a blank line as everywhere in a file.
template <class TEntry>
std::string FormatAll(const std::vector<TEntry>& entries, std::string (*format)(const TEntry&))
{
    std::string text;
    for (const TEntry& entry : entries) {
        text += (text.empty() ? "" : "\n") + format(entry);
    }
    return text;
}

// What tells one version of a file from the next: whether it is there, its size and its last write time.
struct FileStamp {
    bool Exists = false;
    ULONGLONG Size = 0;
    ULONGLONG WriteTime = 0;

    bool operator==(const FileStamp& other) const
    {
        return Exists == other.Exists && Size == other.Size && WriteTime == other.WriteTime;
    }
};

ULONGLONG Combine(DWORD high, DWORD low)
{
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

FileStamp StampOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return FileStamp();
    }
    return FileStamp{true, Combine(data.nFileSizeHigh, data.nFileSizeLow),
                     Combine(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

std::string ReadText(const std::wstring& path)
{
    std::string text;
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return text;
    }
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0) {
        text.append(chunk, read);
    }
    CloseHandle(file);
    return text;
}

// Writes the whole file and returns its stamp as this write left it: no one else can write in between. The
// file is overwritten in place and then cut to length; truncating it first, which makes ext4 start writing it
// back at close, doubled the cost of a write here.
FileStamp WriteText(const std::wstring& path, const std::string& text)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return FileStamp();
    }
    DWORD written = 0;
    FILETIME writeTime{};
    LARGE_INTEGER size{};
    const bool known = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                       SetEndOfFile(file) && GetFileTime(file, nullptr, nullptr, &writeTime) &&
                       GetFileSizeEx(file, &size);
    CloseHandle(file);
    if (!known) {
        return FileStamp();
    }
    return FileStamp{true, static_cast<ULONGLONG>(size.QuadPart),
                     Combine(writeTime.dwHighDateTime, writeTime.dwLowDateTime)};
}

// One state file as this process last read or wrote it, with the text of each entry, so that the double's many
// calls neither parse nor format the whole world each time. The file is read again whenever its stamp differs
// from the one seen then; an edit formats again only the entry it changes.
template <class TEntry>
class TCachedFile {
public:
    using Parser = std::vector<TEntry> (*)(const std::string&);
    using Formatter = std::string (*)(const TEntry&);

    TCachedFile(Parser parser, Formatter formatter) : parse(parser), format(formatter) {}

    const std::vector<TEntry>& View(const std::wstring& path)
    {
        // A missing file is looked for again only once its directory has changed: under Wine, looking for a
        // file that is not there costs several times as much as looking at the directory, and every call looks
        // for faults.txt, which most runs do not have.
        const std::wstring directory = path.substr(0, path.find_last_of(L'\\'));
        if (path == filePath && !stamp.Exists && StampOf(directory) == directoryStamp) {
            return entries;
        }
        FileStamp current = StampOf(path);
        if (!current.Exists) {
            // The directory is stamped before the file is looked for once more, so a file added after that look
            // changes the directory's stamp.
            directoryStamp = StampOf(directory);
            current = StampOf(path);
        }
        if (path != filePath || !(current == stamp)) {
            // Stamped before reading: a change made meanwhile only makes the next use read again.
            filePath = path;
            stamp = current;
            entries = parse(ReadText(path));
            texts.assign(entries.size(), std::string()); // formatted when first written
        }
        return entries;
    }

    void Change(const std::wstring& path, size_t index, const std::function<void(TEntry&)>& change)
    {
        Take(path);
        change(entries.at(index));
        texts[index] = format(entries[index]);
        Write();
    }

    void Add(const std::wstring& path, const TEntry& entry)
    {
        Take(path);
        entries.push_back(entry);
        texts.push_back(format(entry));
        Write();
    }

    void Remove(const std::wstring& path, size_t index)
    {
        Take(path);
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(index));
        Write();
    }

private:
    // An edit works on the view its caller just read; only another directory's file is read first.
    void Take(const std::wstring& path)
    {
        if (path != filePath) {
            View(path);
        }
    }

    // The file's text is put together in a buffer kept from one write to the next: fresh memory on every write
    // cost more than the write itself.
    void Write()
    {
        fileText.clear();
        for (size_t index = 0; index < entries.size(); ++index) {
            if (texts[index].empty()) {
                texts[index] = format(entries[index]);
            }
            if (!fileText.empty()) {
                fileText += '\n';
            }
            fileText += texts[index];
        }
        stamp = WriteText(filePath, fileText);
    }

    Parser parse;
    Formatter format;
    std::wstring filePath;
    FileStamp stamp;
    FileStamp directoryStamp;
    std::vector<TEntry> entries;
    std::vector<std::string> texts;
    std::string fileText;
};

TCachedFile<Mailbox>& MailboxCache()
{
    static TCachedFile<Mailbox> cache(ParseMailboxes, FormatMailbox);
    return cache;
}

TCachedFile<Profile>& ProfileCache()
{
    static TCachedFile<Profile> cache(ParseProfiles, FormatProfile);
    return cache;
}

std::vector<ULONG> ParseDelay(const std::string& text)
{
    return {static_cast<ULONG>(std::strtoul(text.c_str(), nullptr, 10))};
}

std::string FormatDelay(const ULONG& delay)
{
    return std::to_string(delay);
}

TCachedFile<ULONG>& DelayCache()
{
    static TCachedFile<ULONG> cache(ParseDelay, FormatDelay);
    return cache;
}

TCachedFile<Fault>& FaultCache()
{
    static TCachedFile<Fault> cache(ParseFaults, FormatFault);
    return cache;
}

} // namespace

Property UnicodeProperty(ULONG tag, const std::wstring& text)
{
    Property property;
    property.Tag = tag;
    property.Text = text;
    return property;
}

Property BytesProperty(ULONG tag, const std::string& bytes)
{
    Property property;
    property.Tag = tag;
    property.Bytes = bytes;
    return property;
}

Property NumberProperty(ULONG tag, LONG number)
{
    Property property;
    property.Tag = tag;
    property.Number = number;
    return property;
}

const Property* FindProperty(const Properties& properties, ULONG tag)
{
    for (const Property& property : properties) {
        if (PROP_ID(property.Tag) == PROP_ID(tag)) {
            return &property;
        }
    }
    return nullptr;
}

void SetProperty(Properties& properties, const Property& property)
{
    for (Property& existing : properties) {
        if (PROP_ID(existing.Tag) == PROP_ID(property.Tag)) {
            existing = property;
            return;
        }
    }
    properties.push_back(property);
}

CStateDirectory CStateDirectory::FromEnvironment()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(StateVariable, buffer, MAX_PATH);
    return CStateDirectory(length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length));
}

std::vector<Mailbox> CStateDirectory::LoadMailboxes() const
{
    return ParseMailboxes(Read(MailboxesFile));
}

void CStateDirectory::SaveMailboxes(const std::vector<Mailbox>& mailboxes) const
{
    Write(MailboxesFile, FormatAll(mailboxes, FormatMailbox));
}

std::vector<Profile> CStateDirectory::LoadProfiles() const
{
    return ParseProfiles(Read(ProfilesFile));
}

void CStateDirectory::SaveProfiles(const std::vector<Profile>& profiles) const
{
    Write(ProfilesFile, FormatAll(profiles, FormatProfile));
}

std::vector<Fault> CStateDirectory::LoadFaults() const
{
    return ParseFaults(Read(FaultsFile));
}

void CStateDirectory::SaveFaults(const std::vector<Fault>& faults) const
{
    Write(FaultsFile, FormatAll(faults, FormatFault));
}

const std::vector<Mailbox>& CStateDirectory::Mailboxes() const
{
    return MailboxCache().View(FilePath(MailboxesFile));
}

const std::vector<Profile>& CStateDirectory::Profiles() const
{
    return ProfileCache().View(FilePath(ProfilesFile));
}

const std::vector<Fault>& CStateDirectory::Faults() const
{
    return FaultCache().View(FilePath(FaultsFile));
}

ULONG CStateDirectory::ServerDelay() const
{
    const std::vector<ULONG>& delay = DelayCache().View(FilePath(DelayFile));
    return delay.empty() ? 0 : delay[0];
}

void CStateDirectory::ChangeMailbox(size_t index, const std::function<void(Mailbox&)>& change) const
{
    MailboxCache().Change(FilePath(MailboxesFile), index, change);
}

void CStateDirectory::AddProfile(const Profile& profile) const
{
    ProfileCache().Add(FilePath(ProfilesFile), profile);
}

void CStateDirectory::ChangeProfile(size_t index, const std::function<void(Profile&)>& change) const
{
    ProfileCache().Change(FilePath(ProfilesFile), index, change);
}

void CStateDirectory::RemoveProfile(size_t index) const
{
    ProfileCache().Remove(FilePath(ProfilesFile), index);
}

std::vector<ULONG> CStateDirectory::LoadUses() const
{
    std::vector<ULONG> uses;
    for (const Block& block : ParseBlocks(Read(UsesFile))) {
        for (const auto& entry : block.Entries) {
            const size_t index = std::strtoul(entry.first.c_str(), nullptr, 10);
            uses.resize(std::max(uses.size(), index + 1));
            uses[index] = std::strtoul(entry.second.c_str(), nullptr, 10);
        }
    }
    return uses;
}

void CStateDirectory::SaveUses(const std::vector<ULONG>& uses) const
{
    Block block{"uses", {}};
    for (size_t index = 0; index < uses.size(); ++index) {
        block.Add(std::to_string(index), std::to_string(uses[index]));
    }
    Write(UsesFile, FormatBlocks({block}));
}

std::vector<Accounting> CStateDirectory::LoadAccounting() const
{
    std::vector<Accounting> records;
    for (const Block& block : ParseBlocks(Read(AccountingFile))) {
        Accounting accounting;
        accounting.Objects = ParseNumber(block.Find("objects"), 0);
        accounting.Buffers = ParseNumber(block.Find("buffers"), 0);
        accounting.Misuses = ParseNumber(block.Find("misuses"), 0);
        for (const auto& entry : block.Entries) {
            if (entry.first == "object" || entry.first == "buffer" || entry.first == "misuse") {
                accounting.Details.push_back(entry.first + " " + entry.second);
            }
        }
        records.push_back(accounting);
    }
    return records;
}

void CStateDirectory::AppendAccounting(const Accounting& accounting) const
{
    Block block{"uninitialize", {}};
    block.Add("objects", std::to_string(accounting.Objects));
    block.Add("buffers", std::to_string(accounting.Buffers));
    block.Add("misuses", std::to_string(accounting.Misuses));
    for (const std::string& detail : accounting.Details) {
        const size_t space = detail.find(' ');
        block.Add(detail.substr(0, space), space == std::string::npos ? "" : detail.substr(space + 1));
    }
    Append(AccountingFile, FormatBlocks({block}) + "\n");
}

std::string CStateDirectory::LoadCalls() const
{
    return Read(CallsFile);
}

void CStateDirectory::AppendCall(const std::string& line) const
{
    Append(CallsFile, line + "\n");
}

std::wstring CStateDirectory::FilePath(const wchar_t* name) const
{
    return path + L"\\" + name;
}

std::string CStateDirectory::Read(const wchar_t* name) const
{
    return ReadText(FilePath(name));
}

void CStateDirectory::Write(const wchar_t* name, const std::string& text) const
{
    WriteText(FilePath(name), text);
}

void CStateDirectory::Append(const wchar_t* name, const std::string& text) const
{
    const HANDLE file = CreateFileW((path + L"\\" + name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

void CCallLog::Append(const CStateDirectory& state, const std::string& line)
{
    const std::wstring wanted = state.Path() + L"\\" + CallsFile;
    if (file == INVALID_HANDLE_VALUE || wanted != path) {
        Close();
        file = CreateFileW(wanted.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, 0, nullptr);
        path = wanted;
    }
    if (file != INVALID_HANDLE_VALUE) {
        const std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

void CCallLog::Close()
{
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    file = INVALID_HANDLE_VALUE;
    path.clear();
}

std::string PropertyKey(ULONG tag)
{
    for (const NamedTag& named : NamedTags) {
        if (named.Tag == tag) {
            return named.Name;
        }
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lX", tag);
    return buffer;
}

bool PropertyTagFromKey(const std::string& key, ULONG& tag)
{
    for (const NamedTag& named : NamedTags) {
        if (key == named.Name) {
            tag = named.Tag;
            return true;
        }
    }
    if (key.size() == 10 && key.compare(0, 2, "0x") == 0) {
        tag = std::strtoul(key.c_str(), nullptr, 16);
        return true;
    }
    return false;
}

std::string FormatValue(const Property& property)
{
    switch (PROP_TYPE(property.Tag)) {
    case PT_UNICODE:
        return EscapeWide(property.Text);
    case PT_STRING8:
        return EscapeBytes(property.Bytes);
    case PT_BINARY:
        return HexBytes(property.Bytes);
    default:
        return std::to_string(property.Number);
    }
}

Property ParseValue(ULONG tag, const std::string& text)
{
    switch (PROP_TYPE(tag)) {
    case PT_UNICODE:
        return UnicodeProperty(tag, UnescapeWide(text));
    case PT_STRING8:
        return BytesProperty(tag, UnescapeBytes(text));
    case PT_BINARY:
        return BytesProperty(tag, BytesFromHex(text));
    default:
        return NumberProperty(tag, std::strtol(text.c_str(), nullptr, 0));
    }
}

std::string HexResult(HRESULT result)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lx", static_cast<unsigned long>(result));
    return buffer;
}

} // namespace MapiDouble
