// RunTimeline TIMELINE OUTPUT PROGRAM [ARGUMENTS...]
//
// Runs PROGRAM with its standard output and error on a pipe, in a job of its own, and writes to TIMELINE one
// event a line, in the order of their times:
//   <time> start                        just before the process is created
//   <time> program <pid>                the process was created (suspended) and joined the job
//   <time> process-start <pid> <name>   a process joined the job: the program, and every child it starts
//   <time> process-exit <pid> <name>
//   <time> out <text>                   a line of output, stamped when the chunk that completed it arrived
//   <time> exit 0x<code>                the program's whole 32-bit exit code
//   <time> memory peak-working-set=<bytes> peak-private=<bytes> samples=<n>
// OUTPUT gets the output bytes as they came. A time is seconds since 1970 with microseconds, from the clock
// DirectoryProbe.exe stamps its spans with (under Wine both read CLOCK_REALTIME).
//
// What the figures mean: output arrives when the program's C runtime flushes it, so an "out" stamp says when a
// line left the program, not when it was printed. Memory is sampled every few milliseconds while the program
// runs, because the counters of a process that has ended are gone under Wine; there the working-set peak is
// the kernel's high-water mark (VmHWM) of the program's Unix process, exact up to the last sample, and private
// bytes are its anonymous resident memory, of which the largest sample is kept.
#include "errors/Handle.h"
#include "support/TestSupport.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

extern "C" WINBASEAPI VOID WINAPI GetSystemTimePreciseAsFileTime(LPFILETIME time);

namespace {

using Util::CHandle;

constexpr DWORD sampleIntervalMs = 5;
// After the program has ended, how long to wait for the job's last messages.
constexpr DWORD drainTimeoutMs = 500;
constexpr DWORD readerTimeoutMs = 10000;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "RunTimeline: %s failed, error %lu\n", what, ::GetLastError());
    std::fflush(stderr);
    ::ExitProcess(2);
}

void Check(bool succeeded, const char* what)
{
    if (!succeeded) {
        Fail(what);
    }
}

// Microseconds since 1970.
unsigned long long Now()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr unsigned long long ticksFrom1601To1970 = 116444736000000000ULL;
    return (ticks - ticksFrom1601To1970) / 10;
}

std::string Utf8(const std::wstring& text)
{
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                              nullptr);
    }
    return utf8;
}

class CTimeline {
public:
    void Add(unsigned long long time, const std::string& event)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        events.emplace_back(time, event);
    }

    void Write(const wchar_t* path)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        std::stable_sort(events.begin(), events.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::string text;
        for (const auto& event : events) {
            char time[32];
            std::snprintf(time, sizeof time, "%llu.%06llu ", event.first / 1000000, event.first % 1000000);
            text += time + event.second + "\n";
        }
        const CHandle file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
        Check(file.IsValid(), "creating the timeline");
        DWORD written = 0;
        Check(::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size(),
              "writing the timeline");
    }

private:
    std::mutex mutex;
    std::vector<std::pair<unsigned long long, std::string>> events;
};

// Copies the program's output to a file and stamps every line it completes.
struct COutputReader {
    HANDLE Pipe;
    HANDLE Output;
    CTimeline* Timeline;
};

DWORD WINAPI ReadOutput(void* parameter)
{
    const COutputReader& reader = *static_cast<const COutputReader*>(parameter);
    std::string pending;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(reader.Pipe, chunk, sizeof chunk, &read, nullptr) && read != 0) {
        const unsigned long long time = Now();
        DWORD written = 0;
        Check(::WriteFile(reader.Output, chunk, read, &written, nullptr) && written == read, "writing the output");
        pending.append(chunk, read);
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const size_t length = end > 0 && pending[end - 1] == '\r' ? end - 1 : end;
            reader.Timeline->Add(time, "out " + pending.substr(0, length));
        }
    }
    if (!pending.empty()) {
        reader.Timeline->Add(Now(), "out " + pending);
    }
    return 0;
}

struct CMemoryPeak {
    SIZE_T WorkingSet = 0;
    SIZE_T Private = 0;
    unsigned long Samples = 0;

    void Sample(HANDLE process)
    {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        // Fails once the process has ended; the samples before stand.
        if (::GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            WorkingSet = std::max(WorkingSet, counters.PeakWorkingSetSize);
            // Windows keeps a true peak; Wine reports the current value in both fields.
            Private = std::max({Private, counters.PagefileUsage, counters.PeakPagefileUsage});
            ++Samples;
        }
    }
};

std::string ImageName(HANDLE process)
{
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!::QueryFullProcessImageNameW(process, 0, path, &size)) {
        return "?";
    }
    const std::wstring full(path, size);
    return Utf8(full.substr(full.find_last_of(L"\\/") + 1));
}

// The job tells when each process of the run starts and ends. A process is named only at the end of the run,
// through a handle held since its start: right after its creation its image may not be known yet.
class CProcesses {
public:
    // Returns true on the message that no process of the job is left.
    bool Note(DWORD message, DWORD processId)
    {
        const unsigned long long time = Now();
        switch (message) {
        case JOB_OBJECT_MSG_NEW_PROCESS:
            handles[processId] = CHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
            events.push_back({time, "process-start", processId});
            return false;
        case JOB_OBJECT_MSG_EXIT_PROCESS:
        case JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS:
            events.push_back({time, "process-exit", processId});
            return false;
        case JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO:
            events.push_back({time, "all-exited", 0});
            return true;
        default:
            return false;
        }
    }

    void AddTo(CTimeline& timeline) const
    {
        for (const Event& event : events) {
            timeline.Add(event.Time, event.ProcessId == 0 ? event.Kind
                                                          : event.Kind + " " + std::to_string(event.ProcessId) + " " +
                                                                Name(event.ProcessId));
        }
    }

private:
    struct Event {
        unsigned long long Time;
        std::string Kind;
        DWORD ProcessId;
    };
    std::string Name(DWORD processId) const
    {
        const auto handle = handles.find(processId);
        return handle == handles.end() || !handle->second.IsValid() ? "?" : ImageName(handle->second.Get());
    }

    std::map<DWORD, CHandle> handles;
    std::vector<Event> events;
};

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc < 4) {
        std::fputs("usage: RunTimeline TIMELINE OUTPUT PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    // On Windows the desktop is always there; Wine brings one up (explorer.exe) for the first process that asks,
    // so it is brought up here rather than inside the program's run.
    ::GetDesktopWindow();
    CTimeline timeline;
    const CHandle output(::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    Check(output.IsValid(), "creating the output file");

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    Check(::CreatePipe(&readEnd, &writeEnd, &inheritable, 0), "CreatePipe");
    const CHandle pipe(readEnd);
    CHandle programOutput(writeEnd);
    Check(::SetHandleInformation(pipe.Get(), HANDLE_FLAG_INHERIT, 0), "SetHandleInformation");
    CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                                0, nullptr));
    Check(input.IsValid(), "opening NUL");

    const CHandle job(::CreateJobObjectW(nullptr, nullptr));
    Check(job.IsValid(), "CreateJobObject");
    const CHandle port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    Check(port.IsValid(), "CreateIoCompletionPort");
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{};
    association.CompletionPort = port.Get();
    Check(::SetInformationJobObject(job.Get(), JobObjectAssociateCompletionPortInformation, &association,
                                    sizeof association),
          "SetInformationJobObject");

    std::wstring commandLine = TestSupport::QuoteArgument(argv[3]);
    for (int i = 4; i < argc; ++i) {
        commandLine += L" " + TestSupport::QuoteArgument(argv[i]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Get();
    startup.hStdOutput = programOutput.Get();
    startup.hStdError = programOutput.Get();
    PROCESS_INFORMATION created{};
    timeline.Add(Now(), "start");
    Check(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                           &startup, &created),
          "CreateProcess");
    const CHandle process(created.hProcess);
    const CHandle thread(created.hThread);
    Check(::AssignProcessToJobObject(job.Get(), process.Get()), "AssignProcessToJobObject");
    timeline.Add(Now(), "program " + std::to_string(created.dwProcessId));
    Check(::ResumeThread(thread.Get()) != static_cast<DWORD>(-1), "ResumeThread");
    // The program holds the only writing end now, so the pipe ends when the program does.
    programOutput = CHandle();
    input = CHandle();

    COutputReader reader{pipe.Get(), output.Get(), &timeline};
    const CHandle readerThread(::CreateThread(nullptr, 0, ReadOutput, &reader, 0, nullptr));
    Check(readerThread.IsValid(), "CreateThread");

    CProcesses processes;
    CMemoryPeak memory;
    bool ended = false;
    for (bool noneLeft = false; !(ended && noneLeft);) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED data = nullptr;
        if (::GetQueuedCompletionStatus(port.Get(), &message, &key, &data, ended ? drainTimeoutMs : sampleIntervalMs)) {
            noneLeft = processes.Note(message, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data)));
        } else if (ended) {
            break; // the job's last message did not come; the program's own end is known
        }
        if (!ended) {
            memory.Sample(process.Get());
            ended = ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
        }
    }
    DWORD exitCode = 0;
    Check(::GetExitCodeProcess(process.Get(), &exitCode), "GetExitCodeProcess");

    // A grandchild that inherited the output would keep the pipe open: the program's own output is complete.
    if (::WaitForSingleObject(readerThread.Get(), readerTimeoutMs) != WAIT_OBJECT_0) {
        ::CancelSynchronousIo(readerThread.Get());
        ::WaitForSingleObject(readerThread.Get(), INFINITE);
    }
    processes.AddTo(timeline);
    char text[160];
    std::snprintf(text, sizeof text, "exit 0x%08lx", exitCode);
    timeline.Add(Now(), text);
    std::snprintf(text, sizeof text, "memory peak-working-set=%llu peak-private=%llu samples=%lu",
                  static_cast<unsigned long long>(memory.WorkingSet), static_cast<unsigned long long>(memory.Private),
                  memory.Samples);
    timeline.Add(Now(), text);
    timeline.Write(argv[1]);
    return 0;
}
