#include "Steering.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <sstream>
#include <utility>

namespace AdsiDouble {

namespace {

struct Steering {
    std::map<std::pair<Call, unsigned long>, HRESULT> failures;
    unsigned long pageBreak = 0;
    std::map<unsigned long, int> valueTypes;
    HRESULT directoryObjectAnswer = S_OK;
    bool booleanGet = false;
    bool gcFlagSteered = false;
    std::wstring gcFlag;
    unsigned long uses[static_cast<int>(Call::Count)] = {};
};

LONG held[3] = {};
DWORD pendingError = 0;

std::wstring SteeringDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"BRISKLET_ADSI_DOUBLE", buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

bool ParseCall(const std::wstring& name, Call* call)
{
    static const wchar_t* const names[] = {L"ADsOpenObject", L"SetSearchPreference", L"ExecuteSearch",
                                           L"GetFirstRow",   L"GetNextRow",          L"GetColumn"};
    for (int i = 0; i < static_cast<int>(Call::Count); ++i) {
        if (name == names[i]) {
            *call = static_cast<Call>(i);
            return true;
        }
    }
    return false;
}

unsigned long Number(const std::wstring& text)
{
    return std::wcstoul(text.c_str(), nullptr, 0);
}

Steering Load()
{
    Steering steering;
    const std::wstring directory = SteeringDirectory();
    FILE* file = directory.empty() ? nullptr : _wfopen((directory + L"\\steering.txt").c_str(), L"r");
    if (file == nullptr) {
        return steering;
    }
    char line[512];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const std::wstring text(line, line + std::strlen(line));
        std::wistringstream words(text);
        std::wstring directive, first, second, third;
        words >> directive >> first >> second >> third;
        Call call;
        if (directive == L"fail" && ParseCall(first, &call)) {
            steering.failures[{call, Number(second)}] = static_cast<HRESULT>(Number(third));
        } else if (directive == L"refuse-directory-object") {
            steering.directoryObjectAnswer = static_cast<HRESULT>(Number(first));
        } else if (directive == L"more-data") {
            steering.pageBreak = Number(first);
        } else if (directive == L"boolean-get") {
            steering.booleanGet = true;
        } else if (directive == L"gc-flag") {
            steering.gcFlagSteered = true;
            steering.gcFlag = text.substr(text.find(L' ') + 1);
            steering.gcFlag.erase(steering.gcFlag.find_last_not_of(L"\r\n") + 1);
        } else if (directive == L"value-type") {
            steering.valueTypes[Number(first)] = static_cast<int>(Number(second));
        }
    }
    std::fclose(file);
    return steering;
}

Steering& Current()
{
    static Steering steering = Load();
    return steering;
}

void WriteUtf8(const std::wstring& name, const std::wstring& text, const wchar_t* mode)
{
    const std::wstring directory = SteeringDirectory();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    if (FILE* file = directory.empty() ? nullptr : _wfopen((directory + L"\\" + name).c_str(), mode)) {
        std::fwrite(utf8.data(), 1, utf8.size(), file);
        std::fclose(file);
    }
}

} // namespace

HRESULT SteeredResult(Call call)
{
    Steering& current = Current();
    const unsigned long use = ++current.uses[static_cast<int>(call)];
    const auto failure = current.failures.find({call, use});
    return failure == current.failures.end() ? S_OK : failure->second;
}

bool IsPageBreak()
{
    const Steering& current = Current();
    if (current.pageBreak == 0 || current.uses[static_cast<int>(Call::GetNextRow)] != current.pageBreak) {
        return false;
    }
    pendingError = ERROR_MORE_DATA;
    return true;
}

bool TakePendingError(DWORD* error)
{
    *error = std::exchange(pendingError, 0);
    return *error != 0;
}

int SteeredValueType()
{
    const Steering& current = Current();
    const auto type = current.valueTypes.find(current.uses[static_cast<int>(Call::GetColumn)]);
    return type == current.valueTypes.end() ? -1 : type->second;
}

bool AnswersBooleans()
{
    return Current().booleanGet;
}

bool SteeredGlobalCatalogFlag(std::wstring* text)
{
    *text = Current().gcFlag;
    return Current().gcFlagSteered;
}

HRESULT DirectoryObjectAnswer()
{
    return Current().directoryObjectAnswer;
}

void Record(const std::wstring& line)
{
    WriteUtf8(L"calls.txt", line + L"\n", L"ab");
}

std::wstring Hex(HRESULT value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(value));
    return text;
}

void Count(Held what, LONG delta)
{
    InterlockedExchangeAdd(&held[static_cast<int>(what)], delta);
}

void WriteOutstanding()
{
    WriteUtf8(L"outstanding.txt",
              L"references=" + std::to_wstring(held[0]) + L" searches=" + std::to_wstring(held[1]) + L" columns=" +
                  std::to_wstring(held[2]) + L"\n",
              L"wb");
}

} // namespace AdsiDouble
