#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace Util {

// While it lives, the stream's text reaches its destination at every line end, so that a run ended from outside
// (a scheduler's time limit, a kill, a crash) leaves its transcript up to its last line.
class CLineFlushedConsole : private std::streambuf {
public:
    explicit CLineFlushedConsole(std::ostream& stream);
    ~CLineFlushedConsole() override;
    CLineFlushedConsole(const CLineFlushedConsole&) = delete;
    CLineFlushedConsole& operator=(const CLineFlushedConsole&) = delete;

private:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

    std::ostream& stream;
    std::streambuf* const target;
};

// While it lives, what this thread writes to a line-flushed console is kept in `text` instead, so that work done
// on several threads at once can be printed one piece after another.
class CConsoleCapture {
public:
    explicit CConsoleCapture(std::string& text);
    ~CConsoleCapture();
    CConsoleCapture(const CConsoleCapture&) = delete;
    CConsoleCapture& operator=(const CConsoleCapture&) = delete;
};

// While it lives, Ctrl+C, Ctrl+Break and closing the console do not end the process: they are noted, and the run
// stops where nothing is left half-done. A child sharing the console gets the same event and ends as it sees fit.
class CInterruptionWatch {
public:
    CInterruptionWatch();
    ~CInterruptionWatch();
    CInterruptionWatch(const CInterruptionWatch&) = delete;
    CInterruptionWatch& operator=(const CInterruptionWatch&) = delete;
};

// True once an interruption arrived while a watch lived.
bool InterruptionRequested() noexcept;

} // namespace Util
