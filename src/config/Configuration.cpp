#include "config/Configuration.h"

#include "config/ChildSwitches.h"
#include "config/Crypt.h"
#include "config/IniFile.h"
#include "config/Nocase.h"
#include "config/ProgramPaths.h"
#include "directory/TargetAccounts.h"
#include "errors/Errors.h"
#include "errors/Text.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const wchar_t settingsSection[] = L"Settings";
const wchar_t mailboxesSection[] = L"Mailboxes";
const wchar_t directorySection[] = L"AD";
const wchar_t switchMessageSection[] = L"SwitchMessage";

struct Sections {
    NocaseKeyMap settings;
    std::vector<std::wstring> mailboxes;
    NocaseKeyMap directory;
    NocaseKeyMap switchMessage;
};

void ReadKeySection(const IniFile& file, const wchar_t* name, NocaseKeyMap& keys)
{
    file.ReadSection(name, keys);
    if (keys.empty()) {
        std::cout << "Error: No parameters found in section " << ToNarrow(name) << "\n";
    }
}

Sections ReadSections(const std::wstring& path)
{
    const IniFile file(path, true);
    Sections sections;
    ReadKeySection(file, settingsSection, sections.settings);
    file.ReadSectionLines(mailboxesSection, sections.mailboxes);
    if (sections.mailboxes.empty()) {
        std::cout << "Error: No mailboxes found in section " << ToNarrow(mailboxesSection) << "\n";
    }
    ReadKeySection(file, directorySection, sections.directory);
    ReadKeySection(file, switchMessageSection, sections.switchMessage);
    return sections;
}

// A key is present whatever its value, an empty one included.
bool ReadOptional(const NocaseKeyMap& section, const wchar_t* key, std::wstring& field)
{
    const auto found = section.find(Util::nocase_wstring(key));
    if (found == section.end()) {
        return false;
    }
    field = found->second;
    return true;
}

bool ReadRequired(const NocaseKeyMap& section, const wchar_t* key, std::wstring& field)
{
    if (ReadOptional(section, key, field)) {
        return true;
    }
    std::cout << "Error: Incorrect format of section \"" << ToNarrow(key) << "\" in ini-file\n";
    return false;
}

bool Refuse(const wchar_t* key, const std::wstring& value)
{
    std::cout << "Error: Incorrect value \"" << ToNarrow(value) << "\" of \"" << ToNarrow(key) << "\" in ini-file\n";
    return false;
}

// A whole number from 1 to 16: each mailbox in flight holds a connection of its own to the source server.
bool ReadParallelMailboxes(const NocaseKeyMap& section, size_t& field)
{
    std::wstring value;
    if (!ReadOptional(section, L"ParallelMailboxes", value)) {
        return true;
    }
    const bool digits = !value.empty() && value.size() <= 2 && value.find_first_not_of(L"0123456789") == value.npos;
    const unsigned long number = digits ? std::stoul(value) : 0;
    if (number < 1 || number > 16) {
        return Refuse(L"ParallelMailboxes", value);
    }
    field = number;
    return true;
}

// "Yes" is sought before "No", so a value holding both means yes.
bool ReadYesNo(const wchar_t* key, const std::wstring& value, std::wstring& field)
{
    const Util::nocase_wstring text = Util::ToNocase(value);
    if (text.find(L"Yes") != Util::nocase_wstring::npos) {
        field = L"1";
    } else if (text.find(L"No") != Util::nocase_wstring::npos) {
        field = L"0";
    } else {
        return Refuse(key, value);
    }
    return true;
}

bool Decipher(const std::wstring& storedText, std::wstring& password)
{
    try {
        const utils::Crypt cipher;
        password = cipher.Decrypt(storedText);
        return true;
    } catch (const Errors::CCryptError&) {
        std::cout << "Error: Cannot decrypt password \"" << ToNarrow(storedText) << "\"\n";
        return false;
    }
}

// Without both match-key tags the version is normalised, and every version but v1 matches on X500 addresses.
void ApplyVersionRule(SwitchSettings& settings)
{
    const Util::nocase_wstring version = Util::ToNocase(settings.Version);
    if (version.find(L"v1") != Util::nocase_wstring::npos) {
        settings.Version = L"v1";
        return;
    }
    settings.MBMatchKeyTag = L"X500";
    settings.PFMatchKeyTag = L"X500";
    for (const wchar_t* known : {L"v6", L"v5", L"v4"}) {
        if (version.find(known) != Util::nocase_wstring::npos) {
            settings.Version = known;
            return;
        }
    }
}

// The switch message has a layout for these versions only.
bool CheckVersion(const std::wstring& version)
{
    for (const wchar_t* known : {L"v1", L"v4", L"v5", L"v6"}) {
        if (version == known) {
            return true;
        }
    }
    return Refuse(L"Version", version);
}

bool ReadOffice365Block(const NocaseKeyMap& section, SwitchSettings& settings)
{
    std::wstring value;
    if (!ReadOptional(section, L"Office365", value)) {
        std::cout << "Info: Need to specify the parameter: \"" << "Office365" << "\" in ini-file\n";
        return false;
    }
    return ReadYesNo(L"Office365", value, settings.Office365) &&
           ReadRequired(section, L"TargetProxyServer", settings.TargetProxyServer);
}

bool ReadDomainBlock(const NocaseKeyMap& section, SwitchSettings& settings)
{
    std::wstring value;
    settings.IsMAPIEncryptionRequired = L"-1";
    if (ReadOptional(section, L"IsMAPIEncryptionRequired", value) &&
        !ReadYesNo(L"IsMAPIEncryptionRequired", value, settings.IsMAPIEncryptionRequired)) {
        return false;
    }
    if (ReadRequired(section, L"DomainName", settings.DomainName) &&
        ReadRequired(section, L"DomainControllers", settings.DomainControllers) &&
        ReadRequired(section, L"ExchangeServers", settings.ExchangeServers)) {
        return true;
    }
    std::cout << "Info: Need to specify the parameters: \"DomainName\", \"DomainControllers\", \"ExchangeServers\" "
                 "in ini-file\n";
    return false;
}

// Reads and checks every key in order; false when the load has to stop (the reason is already printed).
bool ReadSettings(const Sections& sections, SwitchSettings& settings)
{
    std::wstring storedPassword;
    if (!ReadRequired(sections.settings, L"SrcExchServer", settings.SrcExchServer)) {
        return false;
    }
    // Every profile is pointed at this server in ANSI: one the code page cannot name exactly is another server.
    try {
        ToExactNarrow(settings.SrcExchServer);
    } catch (const Errors::CError&) {
        return Refuse(L"SrcExchServer", settings.SrcExchServer);
    }
    ReadOptional(sections.settings, L"KorvelCmdLine", settings.KorvelCmdLine);
    if (!ReadParallelMailboxes(sections.settings, settings.ParallelMailboxes) ||
        !ReadRequired(sections.directory, L"DCName", settings.DCName) ||
        !ReadRequired(sections.directory, L"DCAccount", settings.DCAccount) ||
        !ReadRequired(sections.directory, L"DCPassword", storedPassword) ||
        !Decipher(storedPassword, settings.DCPassword)) {
        return false;
    }

    const NocaseKeyMap& message = sections.switchMessage;
    ReadOptional(message, L"RecreateSwitchMsg", settings.RecreateSwitchMsg);
    if (!ReadRequired(message, L"TargetServer", settings.TargetServer) ||
        !ReadRequired(message, L"Version", settings.Version)) {
        return false;
    }
    const bool bothTags = ReadOptional(message, L"MBMatchKeyTag", settings.MBMatchKeyTag) &&
                          ReadOptional(message, L"PFMatchKeyTag", settings.PFMatchKeyTag);
    if (!bothTags) {
        ApplyVersionRule(settings);
    }
    if (!CheckVersion(settings.Version)) {
        return false;
    }
    if (settings.Version == L"v6" && !ReadOffice365Block(message, settings)) {
        return false;
    }
    if (settings.Version == L"v5" || (settings.Version == L"v6" && settings.Office365 == L"0")) {
        return ReadDomainBlock(message, settings);
    }
    return true;
}

} // namespace

LoadOutcome LoadConfiguration(const std::wstring& name, SwitchSettings& settings, MailboxList& mailboxes)
{
    mailboxes.clear();
    const std::wstring path = ResolveConfigurationPath(name);
    Sections sections;
    try {
        sections = ReadSections(path);
    } catch (const Errors::CError&) {
        std::cout << "Error: Cannot load INI file " << ToNarrow(path) << "\n";
        return LoadOutcome::Stopped;
    }
    if (!ReadSettings(sections, settings)) {
        return LoadOutcome::Stopped;
    }
    // Checked before the directory is bound, so that a refusal comes before anything is done.
    if (!CheckChildSwitches(settings.KorvelCmdLine)) {
        return LoadOutcome::ChildSwitchRefused;
    }

    NocaseKeyMap targets;
    try {
        targets = ResolveTargetAccounts(settings, sections.mailboxes);
    } catch (const Errors::CError&) {
        std::cout << "Error:  Cannot get information from " << ToNarrow(settings.DCName) << "\n";
        return LoadOutcome::Stopped;
    }
    mailboxes = MakeMailboxList(targets);
    return LoadOutcome::Loaded;
}
