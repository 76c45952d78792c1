#include "directory/CallLimit.h"

#include "errors/Errors.h"
#include "errors/Handle.h"

#include <objbase.h>

#include <atomic>
#include <exception>
#include <memory>

namespace Adsi {

namespace {

// A bind or a page of a search comes back within a second from a busy domain controller, so a minute without
// an answer means the server is gone. The provider's own limits cannot be relied on: Wine's ignores the search
// time limit and held a bind to a silent server for minutes.
constexpr ULONGLONG callLimitMilliseconds = 60000;

// When the provider call under way began (GetTickCount64), 0 while none is; one lookup runs at a time.
std::atomic<ULONGLONG> callStarted{0};

struct CLimitedWork {
    std::function<void()> work;
    std::exception_ptr failure;
};

DWORD WINAPI RunWork(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<CLimitedWork>> owner(static_cast<std::shared_ptr<CLimitedWork>*>(parameter));
    CLimitedWork& limited = **owner;
    // ADSI works in whatever apartment the thread is in, so the result is of no interest.
    ::CoInitialize(nullptr);
    try {
        limited.work();
    } catch (...) {
        limited.failure = std::current_exception();
    }
    return 0;
}

// Each round waits until the thread ends or the call under way reaches the limit; a call that began during the
// wait is looked at in the next round.
void WaitWithinLimit(HANDLE thread)
{
    for (;;) {
        const ULONGLONG started = callStarted.load();
        const ULONGLONG waited = started == 0 ? 0 : ::GetTickCount64() - started;
        if (waited >= callLimitMilliseconds) {
            throw Errors::CAdsiError(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        }
        const DWORD result = ::WaitForSingleObject(thread, static_cast<DWORD>(callLimitMilliseconds - waited));
        if (result == WAIT_OBJECT_0) {
            return;
        }
        Errors::CheckWin32(result == WAIT_TIMEOUT, ::GetLastError());
    }
}

} // namespace

CProviderCall::CProviderCall() noexcept
{
    callStarted.store(::GetTickCount64());
}

CProviderCall::~CProviderCall()
{
    callStarted.store(0);
}

void RunWithCallLimit(std::function<void()> work)
{
    const auto limited = std::make_shared<CLimitedWork>();
    limited->work = std::move(work);
    auto parameter = std::make_unique<std::shared_ptr<CLimitedWork>>(limited);
    const Util::CHandle thread(Errors::CheckNonZero(::CreateThread(nullptr, 0, RunWork, parameter.get(), 0, nullptr)));
    parameter.release();
    WaitWithinLimit(thread.Get());
    if (limited->failure) {
        std::rethrow_exception(limited->failure);
    }
}

} // namespace Adsi
