#pragma once

#include <functional>

namespace Adsi {

// Marks a call to the directory provider as under way, from construction to destruction, for the limit below.
class CProviderCall {
public:
    CProviderCall() noexcept;
    ~CProviderCall();
    CProviderCall(const CProviderCall&) = delete;
    CProviderCall& operator=(const CProviderCall&) = delete;
};

// Runs `work` on a thread of its own, in a single-threaded COM apartment, and waits for it; raises what `work`
// raised. When one provider call of it has gone 60 s without an answer, raises an Errors::CAdsiError of
// ERROR_TIMEOUT at once and leaves the thread to the end of the process: `work` must own everything it uses.
void RunWithCallLimit(std::function<void()> work);

} // namespace Adsi
