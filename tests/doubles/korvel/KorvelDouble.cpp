// Stands in for KorvelEngine.exe: records how it was started and ends as the test says. Steered through the
// directory named by BRISKLET_KORVEL_DOUBLE (without it the double records nothing and ends with 0):
//   commands.txt   written by the double: one line per start, its raw command line (GetCommandLineW) in UTF-8
//   exitcodes.txt  exit codes in decimal, one per line: the n-th start ends with the n-th code, later starts
//                  with the last (absent: 0); negative codes and codes up to 4294967295 are taken as the
//                  32-bit value a Windows parent reads back (-5 is 0xFFFFFFFB)
//   hang.txt       the starts to hold, by number (1 for the first), one a line: such a start writes its process
//                  id to hanging.txt and waits until it is ended from outside
//   gone.txt       present: the double moves its own file aside as it ends (to KorvelEngine.exe.gone), so that
//                  a later start finds no KorvelEngine.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring SteeringDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"BRISKLET_KORVEL_DOUBLE", buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

std::string ReadText(const std::wstring& path)
{
    std::string text;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char chunk[4096];
        for (size_t read; (read = std::fread(chunk, 1, sizeof chunk, file)) != 0;) {
            text.append(chunk, read);
        }
        std::fclose(file);
    }
    return text;
}

std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);
    return utf8;
}

// Counts this start in, and says how many starts came before it.
size_t RecordStart(const std::wstring& directory)
{
    const std::wstring path = directory + L"\\commands.txt";
    const std::string earlier = ReadText(path);
    if (FILE* file = _wfopen(path.c_str(), L"ab")) {
        std::fputs((Utf8(GetCommandLineW()) + "\n").c_str(), file);
        std::fclose(file);
    }
    size_t starts = 0;
    for (const char c : earlier) {
        starts += c == '\n' ? 1 : 0;
    }
    return starts;
}

UINT SteeredExitCode(const std::wstring& directory, size_t earlierStarts)
{
    std::vector<long long> codes;
    const std::string text = ReadText(directory + L"\\exitcodes.txt");
    for (const char* at = text.c_str(); *at != '\0';) {
        char* end = nullptr;
        const long long code = std::strtoll(at, &end, 10);
        if (end == at) {
            break;
        }
        codes.push_back(code);
        at = end;
    }
    if (codes.empty()) {
        return 0;
    }
    return static_cast<UINT>(codes[earlierStarts < codes.size() ? earlierStarts : codes.size() - 1]);
}

bool IsHeld(const std::wstring& directory, size_t start)
{
    const std::string text = ReadText(directory + L"\\hang.txt");
    for (const char* at = text.c_str(); *at != '\0';) {
        char* end = nullptr;
        const unsigned long long held = std::strtoull(at, &end, 10);
        if (end == at) {
            break;
        }
        if (held == start) {
            return true;
        }
        at = end;
    }
    return false;
}

// Tells the test which process to end, then waits for it.
[[noreturn]] void WaitToBeEnded(const std::wstring& directory)
{
    if (FILE* file = _wfopen((directory + L"\\hanging.txt").c_str(), L"wb")) {
        std::fprintf(file, "%lu", GetCurrentProcessId());
        std::fclose(file);
    }
    for (;;) {
        Sleep(INFINITE);
    }
}

} // namespace

int main()
{
    const std::wstring directory = SteeringDirectory();
    if (directory.empty()) {
        return 0;
    }
    const size_t earlierStarts = RecordStart(directory);
    if (IsHeld(directory, earlierStarts + 1)) {
        WaitToBeEnded(directory);
    }
    if (GetFileAttributesW((directory + L"\\gone.txt").c_str()) != INVALID_FILE_ATTRIBUTES) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        MoveFileExW(self, (std::wstring(self) + L".gone").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    ExitProcess(SteeredExitCode(directory, earlierStarts));
}
