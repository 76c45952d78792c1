#include "State.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
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

// A "[kind]" line and the "key=value" lines after it.
struct Block {
    std::string Kind;
    std::vector<std::pair<std::string, std::string>> Entries;

    const std::string* Find(const std::string& key) const
    {
        for (const auto& entry : Entries) {
            if (entry.first == key) {
                return &entry.second;
            }
        }
        return nullptr;
    }
    void Add(const std::string& key, const std::string& value) { Entries.emplace_back(key, value); }
    std::wstring Wide(const char* key, const std::wstring& fallback = L"") const;
    ULONG Number(const char* key, ULONG fallback) const
    {
        const std::string* text = Find(key);
        return text == nullptr || text->empty() ? fallback : std::strtoul(text->c_str(), nullptr, 0);
    }
};

// Blank lines and lines starting with "#" are ignored.
std::vector<Block> ParseBlocks(const std::string& text)
{
    std::vector<Block> blocks;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t equals = line.find('=');
        if (line.front() == '[' && line.back() == ']') {
            blocks.push_back(Block{line.substr(1, line.size() - 2), {}});
        } else if (equals != std::string::npos && !blocks.empty()) {
            blocks.back().Add(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return blocks;
}

std::string FormatBlock(const Block& block)
{
    std::string text = "[" + block.Kind + "]\n";
    for (const auto& entry : block.Entries) {
        text += entry.first + "=" + entry.second + "\n";
    }
    return text;
}

std::string Narrow(UINT codePage, const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring Wide(UINT codePage, const std::string& text)
{
    const int size = MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::wstring UnescapeWide(const std::string& text)
{
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        const char code = text[at] == '\\' && at + 1 < text.size() ? text[++at] : '\0';
        out += code == 'n' ? '\n' : code == 'r' ? '\r' : code != '\0' ? code : text[at];
    }
    return Wide(CP_UTF8, out);
}

std::wstring Block::Wide(const char* key, const std::wstring& fallback) const
{
    const std::string* text = Find(key);
    return text == nullptr ? fallback : UnescapeWide(*text);
}

struct NamedTag {
    const char* Name;
    ULONG Tag;
};

// The tags the world holds; a key that names none of them is not a property.
constexpr NamedTag NamedTags[] = {
    {"PR_SUBJECT_W", 0x0037001F},
    {"PR_BODY_W", 0x1000001F},
    {"PR_PROFILE_UNRESOLVED_NAME", 0x6607001E},
    {"PR_PROFILE_UNRESOLVED_SERVER", 0x6608001E},
};

// Every entry whose key names a property; string values only, as the world keeps them.
Properties ReadProperties(const Block& block)
{
    Properties properties;
    for (const NamedTag& named : NamedTags) {
        if (block.Find(named.Name) != nullptr) {
            const std::wstring text = block.Wide(named.Name);
            properties.push_back(PROP_TYPE(named.Tag) == PT_UNICODE ? UnicodeProperty(named.Tag, text)
                                                                    : BytesProperty(named.Tag, ToAnsi(text)));
        }
    }
    return properties;
}

void WriteProperties(Block& block, const Properties& properties)
{
    for (const Property& property : properties) {
        for (const NamedTag& named : NamedTags) {
            if (named.Tag == property.Tag) {
                block.Add(named.Name,
                          EscapeWide(PROP_TYPE(property.Tag) == PT_UNICODE ? property.Text : FromAnsi(property.Bytes)));
            }
        }
    }
}

std::vector<Mailbox> ParseMailboxes(const std::string& text)
{
    std::vector<Mailbox> mailboxes;
    for (const Block& block : ParseBlocks(text)) {
        if (block.Kind == "mailbox") {
            Mailbox mailbox;
            mailbox.Server = block.Wide("server");
            mailbox.Dn = block.Wide("dn");
            mailbox.Name = block.Wide("name", mailbox.Dn.substr(mailbox.Dn.find_last_of(L'=') + 1));
            std::wstringstream stores(block.Wide("stores", L"private"));
            mailbox.Stores.clear();
            for (std::wstring store; std::getline(stores, store, L',');) {
                mailbox.Stores.push_back(store);
            }
            mailbox.DefaultStore = block.Wide("default", L"private");
            mailbox.ValueLimit = block.Number("limit", mailbox.ValueLimit);
            mailbox.NextId = block.Number("next", 1);
            mailboxes.push_back(mailbox);
        } else if (block.Kind == "message" && !mailboxes.empty()) {
            mailboxes.back().Messages.push_back(
                Message{block.Number("id", 0), block.Number("associated", 0) != 0, ReadProperties(block)});
        }
    }
    for (Mailbox& mailbox : mailboxes) {
        for (const Message& message : mailbox.Messages) {
            mailbox.NextId = std::max(mailbox.NextId, message.Id + 1);
        }
        // A message seeded without an id gets the next free one.
        for (Message& message : mailbox.Messages) {
            message.Id = message.Id == 0 ? mailbox.NextId++ : message.Id;
        }
    }
    return mailboxes;
}

std::string FormatMessage(const Message& message)
{
    Block block{"message", {{"id", std::to_string(message.Id)}, {"associated", message.Associated ? "1" : "0"}}};
    WriteProperties(block, message.Props);
    return FormatBlock(block);
}

// A mailbox and its messages, as blocks.
std::string FormatMailbox(const Mailbox& mailbox)
{
    Block block{"mailbox", {}};
    block.Add("server", EscapeWide(mailbox.Server));
    block.Add("dn", EscapeWide(mailbox.Dn));
    block.Add("name", EscapeWide(mailbox.Name));
    std::wstring stores;
    for (const std::wstring& store : mailbox.Stores) {
        stores += (stores.empty() ? L"" : L",") + store;
    }
    block.Add("stores", EscapeWide(stores));
    block.Add("default", EscapeWide(mailbox.DefaultStore));
    block.Add("limit", std::to_string(mailbox.ValueLimit));
    block.Add("next", std::to_string(mailbox.NextId));
    std::string text = FormatBlock(block);
    for (const Message& message : mailbox.Messages) {
        text += "\n" + FormatMessage(message);
    }
    return text;
}

std::vector<Profile> ParseProfiles(const std::string& text)
{
    std::vector<Profile> profiles;
    for (const Block& block : ParseBlocks(text)) {
        if (block.Kind == "profile") {
            profiles.push_back(
                Profile{ToAnsi(block.Wide("name")), block.Find("service") != nullptr, ReadProperties(block)});
        }
    }
    return profiles;
}

std::string FormatProfile(const Profile& profile)
{
    Block block{"profile", {{"name", EscapeWide(FromAnsi(profile.Name))}}};
    if (profile.HasService) {
        block.Add("service", "MSEMS");
    }
    WriteProperties(block, profile.Settings);
    return FormatBlock(block);
}

std::vector<Fault> ParseFaults(const std::string& text)
{
    std::vector<Fault> faults;
    for (const Block& block : ParseBlocks(text)) {
        faults.push_back(Fault{block.Wide("call"), static_cast<HRESULT>(block.Number("result", E_FAIL)),
                               block.Number("use", 0), block.Wide("mailbox"), block.Wide("text"), block.Wide("work"),
                               block.Number("column", 0)});
    }
    return faults;
}

std::string FormatFault(const Fault& fault)
{
    char result[16];
    std::snprintf(result, sizeof result, "0x%08lx", static_cast<unsigned long>(fault.Result));
    return FormatBlock(Block{"fault",
                             {{"call", EscapeWide(fault.Call)},
                              {"result", result},
                              {"use", std::to_string(fault.Use)},
                              {"mailbox", EscapeWide(fault.Mailbox)},
                              {"text", EscapeWide(fault.Text)},
                              {"work", EscapeWide(fault.Work)},
                              {"column", std::to_string(fault.Column)}}});
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
    FILETIME WriteTime{};

    bool operator==(const FileStamp& other) const
    {
        return Exists == other.Exists && Size == other.Size && CompareFileTime(&WriteTime, &other.WriteTime) == 0;
    }
};

FileStamp StampOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return FileStamp();
    }
    return FileStamp{true, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                     data.ftLastWriteTime};
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

// Writes the whole file, or appends to it, and returns its stamp as this write left it. A rewrite overwrites
// in place and then cuts to length: truncating first, which makes ext4 write the file back at close, doubled
// the cost of a write here.
FileStamp WriteText(const std::wstring& path, const std::string& text, bool append = false)
{
    const HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return FileStamp();
    }
    DWORD written = 0;
    FileStamp stamp{true};
    LARGE_INTEGER size{};
    const bool known = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                       (append || SetEndOfFile(file)) && GetFileTime(file, nullptr, nullptr, &stamp.WriteTime) &&
                       GetFileSizeEx(file, &size);
    CloseHandle(file);
    stamp.Size = static_cast<ULONGLONG>(size.QuadPart);
    return known ? stamp : FileStamp();
}

// One state file as this process last read or wrote it, with the text of each entry, so that the double's many
// calls neither parse nor format the whole world each time. The file is read again whenever its stamp differs
// from the one seen then; an edit formats again only the entry it changes.
template <class TEntry>
class TCachedFile {
public:
    using Parser = std::vector<TEntry> (*)(const std::string&);
    using Formatter = std::string (*)(const TEntry&);

    TCachedFile(Parser parser, Formatter formatter) : parse(parser), format(formatter) { }

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
            // Stamped before the file is looked for once more, so a file added after that look changes it.
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

    // Edits the view its caller just read, then writes the file.
    void Edit(const std::wstring& path,
              const std::function<void(std::vector<TEntry>&, std::vector<std::string>&)>& edit)
    {
        if (path != filePath) {
            View(path);
        }
        edit(entries, texts);
        std::string fileText;
        for (size_t index = 0; index < entries.size(); ++index) {
            if (texts[index].empty()) {
                texts[index] = format(entries[index]);
            }
            fileText += (index == 0 ? "" : "\n") + texts[index];
        }
        stamp = WriteText(filePath, fileText);
    }

private:
    Parser parse;
    Formatter format;
    std::wstring filePath;
    FileStamp stamp;
    FileStamp directoryStamp;
    std::vector<TEntry> entries;
    std::vector<std::string> texts;
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

TCachedFile<Fault>& FaultCache()
{
    static TCachedFile<Fault> cache(ParseFaults, FormatFault);
    return cache;
}

} // namespace

std::string ToAnsi(const std::wstring& text)
{
    return Narrow(CP_ACP, text);
}

std::wstring FromAnsi(const std::string& text)
{
    return Wide(CP_ACP, text);
}

std::string EscapeWide(const std::wstring& text)
{
    std::string out;
    for (const char c : Narrow(CP_UTF8, text)) {
        out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    }
    return out;
}

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
    const auto found = std::find_if(properties.begin(), properties.end(),
                                    [&](const Property& property) { return PROP_ID(property.Tag) == PROP_ID(tag); });
    return found == properties.end() ? nullptr : &*found;
}

void SetProperty(Properties& properties, const Property& property)
{
    if (const Property* existing = FindProperty(properties, property.Tag)) {
        properties[static_cast<size_t>(existing - properties.data())] = property;
    } else {
        properties.push_back(property);
    }
}

CStateDirectory CStateDirectory::FromEnvironment()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(StateVariable, buffer, MAX_PATH);
    return CStateDirectory(length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length));
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
    // Read once: the benchmark writes it before the run, and every call asks.
    static const ULONG delay = std::strtoul(ReadText(FilePath(DelayFile)).c_str(), nullptr, 10);
    return delay;
}

void CStateDirectory::ChangeMailbox(size_t index, const std::function<void(Mailbox&)>& change) const
{
    MailboxCache().Edit(FilePath(MailboxesFile), [&](std::vector<Mailbox>& mailboxes, std::vector<std::string>& texts) {
        change(mailboxes.at(index));
        texts[index].clear();
    });
}

void CStateDirectory::AddProfile(const Profile& profile) const
{
    ProfileCache().Edit(FilePath(ProfilesFile), [&](std::vector<Profile>& profiles, std::vector<std::string>& texts) {
        profiles.push_back(profile);
        texts.emplace_back();
    });
}

void CStateDirectory::ChangeProfile(size_t index, const std::function<void(Profile&)>& change) const
{
    ProfileCache().Edit(FilePath(ProfilesFile), [&](std::vector<Profile>& profiles, std::vector<std::string>& texts) {
        change(profiles.at(index));
        texts[index].clear();
    });
}

void CStateDirectory::RemoveProfile(size_t index) const
{
    ProfileCache().Edit(FilePath(ProfilesFile), [&](std::vector<Profile>& profiles, std::vector<std::string>& texts) {
        profiles.erase(profiles.begin() + static_cast<std::ptrdiff_t>(index));
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(index));
    });
}

std::vector<Mailbox> CStateDirectory::LoadMailboxes() const
{
    return ParseMailboxes(ReadText(FilePath(MailboxesFile)));
}

void CStateDirectory::SaveMailboxes(const std::vector<Mailbox>& mailboxes) const
{
    WriteText(FilePath(MailboxesFile), FormatAll(mailboxes, FormatMailbox));
}

std::vector<Profile> CStateDirectory::LoadProfiles() const
{
    return ParseProfiles(ReadText(FilePath(ProfilesFile)));
}

std::vector<Fault> CStateDirectory::LoadFaults() const
{
    return ParseFaults(ReadText(FilePath(FaultsFile)));
}

void CStateDirectory::SaveFaults(const std::vector<Fault>& faults) const
{
    WriteText(FilePath(FaultsFile), FormatAll(faults, FormatFault));
}

std::vector<ULONG> CStateDirectory::LoadUses() const
{
    std::vector<ULONG> uses;
    std::istringstream lines(ReadText(FilePath(UsesFile)));
    for (ULONG count = 0; lines >> count;) {
        uses.push_back(count);
    }
    return uses;
}

void CStateDirectory::SaveUses(const std::vector<ULONG>& uses) const
{
    std::string text;
    for (const ULONG count : uses) {
        text += std::to_string(count) + "\n";
    }
    WriteText(FilePath(UsesFile), text);
}

std::vector<Accounting> CStateDirectory::LoadAccounting() const
{
    std::vector<Accounting> records;
    for (const Block& block : ParseBlocks(ReadText(FilePath(AccountingFile)))) {
        records.push_back(
            Accounting{block.Number("objects", 0), block.Number("buffers", 0), block.Number("misuses", 0),
                       block.Number("threads", 0), {}});
    }
    return records;
}

void CStateDirectory::AppendAccounting(const Accounting& accounting) const
{
    Block block{"uninitialize", {}};
    block.Add("objects", std::to_string(accounting.Objects));
    block.Add("buffers", std::to_string(accounting.Buffers));
    block.Add("misuses", std::to_string(accounting.Misuses));
    block.Add("threads", std::to_string(accounting.Threads));
    for (const std::string& detail : accounting.Details) {
        const size_t space = detail.find(' ');
        block.Add(detail.substr(0, space), space == std::string::npos ? "" : detail.substr(space + 1));
    }
    WriteText(FilePath(AccountingFile), FormatBlock(block) + "\n", true);
}

std::string CStateDirectory::LoadCalls() const
{
    return ReadText(FilePath(CallsFile));
}

void CStateDirectory::AppendCall(const std::string& line) const
{
    WriteText(FilePath(CallsFile), line + "\n", true);
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
    const std::string text = line + "\n";
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
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

std::string FormatMessages(std::vector<Message> messages)
{
    std::string text;
    for (Message& message : messages) {
        message.Id = 0;
        text += FormatMessage(message) + "\n";
    }
    return text;
}

} // namespace MapiDouble
