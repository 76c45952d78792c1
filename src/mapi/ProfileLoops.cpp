#include "mapi/ProfileLoops.h"

#include "errors/Console.h"
#include "errors/Errors.h"
#include "mapi/MailboxProfile.h"
#include "mapi/MapiInit.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// One mailbox of the pass, as its thread leaves it.
struct MailboxWork {
    std::thread thread;
    std::string transcript; // held until every mailbox before it is done
    bool done = false;
    bool succeeded = false;
    std::exception_ptr unhandled;
};

// On the mailbox's own thread: MAPI is started for that thread, and a failure to start it fails the mailbox alone.
bool ServeMailbox(MailboxEntry& entry, const SwitchSettings& settings)
{
    try {
        const Mapi::CMapiInit mapi(Mapi::MailboxPassFlags);
        return CreateMailboxProfile(entry, settings);
    } catch (const Errors::CError&) {
        ReportFailedMailbox(entry);
        return false;
    }
}

// Starts mailboxes in list order while fewer than the limit are in flight, and prints the finished ones in order.
class CMailboxPass {
public:
    CMailboxPass(MailboxList& list, const SwitchSettings& switchSettings)
        : mailboxes(list), settings(switchSettings), work(list.size())
    {
    }
    // Whatever ended the pass, no thread outlives what it works on.
    ~CMailboxPass()
    {
        for (MailboxWork& each : work) {
            if (each.thread.joinable()) {
                each.thread.join();
            }
        }
    }
    CMailboxPass(const CMailboxPass&) = delete;
    CMailboxPass& operator=(const CMailboxPass&) = delete;

    int Run();

private:
    void Work(size_t index);
    void PrintFinished();

    MailboxList& mailboxes;
    const SwitchSettings& settings;
    std::vector<MailboxWork> work;
    std::mutex lock; // guards everything below and each MailboxWork's flags
    std::condition_variable finishing;
    size_t started = 0;
    size_t finished = 0;
    size_t printed = 0;
    bool stopping = false;
};

int CMailboxPass::Run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        PrintFinished();
        stopping = stopping || Util::InterruptionRequested();
        if (printed == work.size() || (stopping && printed == started)) {
            break;
        }
        if (!stopping && started < work.size() && started - finished < settings.ParallelMailboxes) {
            work[started].thread = std::thread(&CMailboxPass::Work, this, started);
            ++started;
        } else {
            finishing.wait(guard);
        }
    }
    const auto unhandled =
        std::find_if(work.begin(), work.end(), [](const MailboxWork& each) { return bool(each.unhandled); });
    if (unhandled != work.end()) {
        std::rethrow_exception(unhandled->unhandled);
    }
    const bool allSucceeded =
        std::all_of(work.begin(), work.begin() + started, [](const MailboxWork& each) { return each.succeeded; });
    return allSucceeded ? 0 : SomeMailboxFailed;
}

void CMailboxPass::Work(size_t index)
{
    MailboxWork& mine = work[index];
    bool succeeded = false;
    std::exception_ptr unhandled;
    {
        const Util::CConsoleCapture capture(mine.transcript);
        try {
            succeeded = ServeMailbox(mailboxes[index], settings);
        } catch (...) {
            unhandled = std::current_exception();
        }
    }
    const std::lock_guard<std::mutex> guard(lock);
    mine.succeeded = succeeded;
    mine.unhandled = unhandled;
    mine.done = true;
    ++finished;
    // What a mailbox cannot handle ends the run: no further mailbox is begun.
    stopping = stopping || unhandled;
    finishing.notify_one();
}

// Under the lock: the finished mailboxes whose predecessors are all printed, each as one piece.
void CMailboxPass::PrintFinished()
{
    for (; printed < started && work[printed].done; ++printed) {
        MailboxWork& next = work[printed];
        next.thread.join();
        std::cout << next.transcript;
        std::string().swap(next.transcript);
    }
}

} // namespace

int CreateProfiles(MailboxList& mailboxes, const SwitchSettings& settings)
{
    std::cout << "Info: Create profiles and check the switch message. \n";
    return CMailboxPass(mailboxes, settings).Run();
}

bool DeleteProfiles(MailboxList& mailboxes)
{
    try {
        for (MailboxEntry& entry : mailboxes) {
            DeleteMailboxProfile(entry);
        }
    } catch (const Errors::CError&) {
        // Each profile reports its own failure; one that escapes its report ends the pass as it stands.
    }
    // A deleted profile's name is emptied; a kept name is a profile that may still be on the machine.
    return std::none_of(mailboxes.begin(), mailboxes.end(),
                        [](const MailboxEntry& each) { return !each.ProfileName.empty(); });
}
