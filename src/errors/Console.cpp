#include "errors/Console.h"

#include "errors/Errors.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace {

// Written by the console's control thread, read by the main thread.
std::atomic<bool> interruption{false};

// Where this thread's console text goes instead of the console; none while it prints straight.
thread_local std::string* capture = nullptr;

BOOL WINAPI NoteInterruption(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        interruption = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
        interruption = true;
        // The process ends as soon as this returns: holding it here gives the main thread the time the system
        // grants to remove the profiles; the process then ends with the main thread.
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

namespace Util {

CLineFlushedConsole::CLineFlushedConsole(std::ostream& console) : stream(console), target(console.rdbuf(this)) {}

CLineFlushedConsole::~CLineFlushedConsole()
{
    stream.rdbuf(target);
}

CLineFlushedConsole::int_type CLineFlushedConsole::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    if (capture != nullptr) {
        capture->push_back(traits_type::to_char_type(c));
        return c;
    }
    const int_type written = target->sputc(traits_type::to_char_type(c));
    if (traits_type::eq_int_type(written, traits_type::to_int_type('\n'))) {
        target->pubsync();
    }
    return written;
}

std::streamsize CLineFlushedConsole::xsputn(const char* text, std::streamsize count)
{
    if (capture != nullptr) {
        capture->append(text, static_cast<size_t>(count));
        return count;
    }
    const std::streamsize written = target->sputn(text, count);
    if (std::find(text, text + written, '\n') != text + written) {
        target->pubsync();
    }
    return written;
}

int CLineFlushedConsole::sync()
{
    return capture != nullptr ? 0 : target->pubsync();
}

CConsoleCapture::CConsoleCapture(std::string& text)
{
    capture = &text;
}

CConsoleCapture::~CConsoleCapture()
{
    capture = nullptr;
}

CInterruptionWatch::CInterruptionWatch()
{
    Errors::CheckTrue(::SetConsoleCtrlHandler(NoteInterruption, TRUE));
}

CInterruptionWatch::~CInterruptionWatch()
{
    ::SetConsoleCtrlHandler(NoteInterruption, FALSE);
}

bool InterruptionRequested() noexcept
{
    return interruption;
}

} // namespace Util
