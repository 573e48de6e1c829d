#include "platform/ChildProcess.h"
#include "platform/LookUntil.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/windows/WideText.h"

namespace kestova::platform {

// On Windows pidfd_ holds the process handle: kernel handles have 32 significant bits, so that an
// int holds one (HandleToLong / LongToHandle).

namespace {

using Clock = std::chrono::steady_clock;

HANDLE handleOf(int value) {
    return LongToHandle(value);
}

// The scripts that still may run, each in the one job object of the program, so that everything a
// script started (iperf3 and whatever it starts) ends with it. The job ends its processes when the
// program ends, however it ends.
// Contract: every member is guarded by lock; safe from any thread.
struct ScriptJob {
    std::mutex lock;
    HANDLE job = nullptr;
    std::vector<HANDLE> scripts;  // our own handles of the scripts' processes
    bool closed = false;          // the program has begun to end: no script starts
};

ScriptJob& scriptJob() {
    static auto* registry = new ScriptJob;  // never destroyed: scripts may start while ending
    return *registry;
}

HANDLE scriptJobHandle(ScriptJob& registry) {
    if (registry.job == nullptr) {
        registry.job = ::CreateJobObjectW(nullptr, nullptr);
        if (registry.job != nullptr) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            ::SetInformationJobObject(registry.job, JobObjectExtendedLimitInformation, &limits,
                                      sizeof limits);
        }
    }
    return registry.job;
}

bool stillRuns(HANDLE process) {
    return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// Puts the suspended process into the scripts' job and keeps a handle of it there; ends it
// instead, before it has run, once the program has begun to end.
bool enterScriptJob(HANDLE process) {
    ScriptJob& registry = scriptJob();
    const std::lock_guard<std::mutex> guard(registry.lock);
    if (registry.closed) {
        ::TerminateProcess(process, 1);
        return false;
    }
    HANDLE job = scriptJobHandle(registry);
    if (job != nullptr) {
        ::AssignProcessToJobObject(job, process);
    }
    registry.scripts.erase(std::remove_if(registry.scripts.begin(), registry.scripts.end(),
                                          [](HANDLE script) {
                                              if (stillRuns(script)) {
                                                  return false;
                                              }
                                              ::CloseHandle(script);
                                              return true;
                                          }),
                           registry.scripts.end());
    HANDLE own = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(), &own,
                          SYNCHRONIZE | PROCESS_TERMINATE, FALSE, 0) != 0) {
        registry.scripts.push_back(own);
    }
    return true;
}

// A command line word quoted so that the C runtime of the started program reads it back as it is.
std::wstring quotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring commandLineOf(const std::vector<std::string>& command) {
    std::wstring line;
    for (const std::string& word : command) {
        if (!line.empty()) {
            line += L' ';
        }
        line += quotedArgument(toWide(word));
    }
    return line;
}

std::wstring commandInterpreter() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length > MAX_PATH) {
        return L"cmd.exe";
    }
    return std::wstring(folder, length) + L"\\cmd.exe";
}

std::wstring currentFolder() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(length, L'\0');
    const DWORD written = length == 0 ? 0 : ::GetCurrentDirectoryW(length, folder.data());
    folder.resize(written < length ? written : 0);
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder;
}

// How cmd.exe is told which script to run. cmd.exe reads its command line for %NAME% (within
// quotes too) and, with delayed expansion on, for !NAME!: a folder named so would reach it mangled.
// A script of the current folder is named by ".\" and its file name alone, so that the folder's
// name never passes that reading (cmd.exe inherits the folder itself); delayed expansion is turned
// off. Nothing for a script whose own name holds a "%".
std::optional<std::wstring> scriptArgument(const std::wstring& script) {
    std::wstring full(32768, L'\0');
    wchar_t* filePart = nullptr;
    const DWORD length =
        ::GetFullPathNameW(script.c_str(), static_cast<DWORD>(full.size()), full.data(), &filePart);
    if (length == 0 || length >= full.size() || filePart == nullptr) {
        return std::nullopt;
    }
    full.resize(length);
    const std::size_t nameStart = static_cast<std::size_t>(filePart - full.data());
    const std::wstring folder = full.substr(0, nameStart);
    const std::wstring current = currentFolder();
    const bool inCurrent =
        !current.empty() &&
        ::CompareStringOrdinal(folder.c_str(), static_cast<int>(folder.size()), current.c_str(),
                               static_cast<int>(current.size()), TRUE) == CSTR_EQUAL;
    const std::wstring argument = inCurrent ? L".\\" + full.substr(nameStart) : full;
    if (argument.find(L'%') != std::wstring::npos) {
        return std::nullopt;
    }
    return argument;
}

struct Started {
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
};

// Starts the process without a window, suspended when asked. Standard handles are given only
// when output is; otherwise the child gets none it could block on.
std::optional<Started> createProcess(const wchar_t* application, std::wstring commandLine,
                                     DWORD extraFlags, HANDLE output = nullptr) {
    STARTUPINFOW start{};
    start.cb = sizeof start;
    BOOL inherit = FALSE;
    if (output != nullptr) {
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = nullptr;
        start.hStdOutput = output;
        start.hStdError = nullptr;
        inherit = TRUE;
    }
    PROCESS_INFORMATION created{};
    if (::CreateProcessW(application, commandLine.data(), nullptr, nullptr, inherit,
                         CREATE_NO_WINDOW | extraFlags, nullptr, nullptr, &start, &created) == 0) {
        return std::nullopt;
    }
    return Started{created.hProcess, created.hThread};
}

}  // namespace

ChildProcess::ChildProcess(int pid, bool script) : pid_(pid), script_(script) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      reaped_(std::exchange(other.reaped_, true)),
      script_(other.script_) {}

std::optional<ChildProcess> ChildProcess::startShellScript(const std::string& scriptPath) {
    const std::wstring script = toWide(scriptPath);
    const DWORD attributes = ::GetFileAttributesW(script.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    // The command interpreter runs the script in the current folder, so that its relative paths
    // (the iperf3 client, the output file) are the program folder's. It starts suspended, enters
    // the scripts' job, and only then runs.
    const std::optional<std::wstring> argument = scriptArgument(script);
    if (!argument) {
        return std::nullopt;
    }
    const std::wstring interpreter = commandInterpreter();
    const std::optional<Started> started =
        createProcess(interpreter.c_str(), L"cmd.exe /d /v:off /s /c \"\"" + *argument + L"\"\"",
                      CREATE_SUSPENDED);
    if (!started) {
        return std::nullopt;
    }
    if (!enterScriptJob(started->process)) {
        ::CloseHandle(started->thread);
        ::CloseHandle(started->process);
        return std::nullopt;
    }
    ::ResumeThread(started->thread);
    ::CloseHandle(started->thread);
    ChildProcess child(static_cast<int>(::GetProcessId(started->process)), true);
    child.pidfd_ = HandleToLong(started->process);
    return child;
}

std::optional<ChildProcess> ChildProcess::startProgram(const std::vector<std::string>& command) {
    if (command.empty()) {
        return std::nullopt;
    }
    const std::optional<Started> started = createProcess(nullptr, commandLineOf(command), 0);
    if (!started) {
        return std::nullopt;
    }
    ::CloseHandle(started->thread);
    ChildProcess child(static_cast<int>(::GetProcessId(started->process)), false);
    child.pidfd_ = HandleToLong(started->process);
    return child;
}

std::optional<std::string> ChildProcess::captureOutput(const std::vector<std::string>& command,
                                                       std::chrono::milliseconds timeout,
                                                       std::size_t maxBytes) {
    if (command.empty()) {
        return std::nullopt;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (::CreatePipe(&readEnd, &writeEnd, &inheritable, 0) == 0) {
        return std::nullopt;
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const std::optional<Started> started =
        createProcess(nullptr, commandLineOf(command), 0, writeEnd);
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        return std::nullopt;
    }
    ::CloseHandle(started->thread);
    ChildProcess child(static_cast<int>(::GetProcessId(started->process)), false);
    child.pidfd_ = HandleToLong(started->process);
    // The pipe is read without blocking, so that the time-out holds however the child behaves.
    const Clock::time_point deadline = Clock::now() + timeout;
    std::string output;
    bool finished = false;
    while (!finished && Clock::now() < deadline) {
        DWORD available = 0;
        if (::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) == 0) {
            finished = true;  // the child closed its end
            break;
        }
        if (available == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (::ReadFile(readEnd, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) ==
            0) {
            finished = true;
            break;
        }
        output.append(buffer,
                      std::min<std::size_t>(got, maxBytes - std::min(maxBytes, output.size())));
    }
    ::CloseHandle(readEnd);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!finished || !child.waitForExit(std::max(left, std::chrono::milliseconds(0)))) {
        return std::nullopt;
    }
    return output;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (reaped_) {
        return true;
    }
    const DWORD limit = static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, INFINITE - 1));
    if (pidfd_ == -1 || ::WaitForSingleObject(handleOf(pidfd_), limit) == WAIT_OBJECT_0) {
        reaped_ = true;
        return true;
    }
    return false;
}

ChildProcess::~ChildProcess() {
    // A child still running runs on; only our handle of it goes.
    if (pidfd_ != -1) {
        ::CloseHandle(handleOf(pidfd_));
    }
}

std::size_t endRunningScripts(std::chrono::milliseconds grace) {
    // A script without a window has no console to be asked to stop on: it is ended at once, with
    // everything it started; the grace bounds the wait until they are all gone, so that none
    // writes after this returns.
    ScriptJob& registry = scriptJob();
    const std::lock_guard<std::mutex> guard(registry.lock);
    std::size_t ended = 0;
    for (HANDLE script : registry.scripts) {
        if (stillRuns(script)) {
            ++ended;
            ::TerminateProcess(script, 1);
        }
    }
    if (registry.job != nullptr) {
        ::TerminateJobObject(registry.job, 1);
    }
    const Clock::time_point deadline = Clock::now() + grace;
    for (HANDLE script : registry.scripts) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        ::WaitForSingleObject(script, static_cast<DWORD>(std::max<long long>(left.count(), 0)));
        ::CloseHandle(script);
    }
    registry.scripts.clear();
    while (registry.job != nullptr && Clock::now() < deadline) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (::QueryInformationJobObject(registry.job, JobObjectBasicAccountingInformation,
                                        &accounting, sizeof accounting, nullptr) == 0 ||
            accounting.ActiveProcesses == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ended;
}

bool waitForRunningScripts(std::chrono::milliseconds bound) {
    // A script's process ends only once the iperf3 it runs has: its own handle tells it all.
    ScriptJob& registry = scriptJob();
    return lookUntil(bound, std::chrono::milliseconds(20), [&registry] {
        const std::lock_guard<std::mutex> guard(registry.lock);
        return std::none_of(registry.scripts.begin(), registry.scripts.end(), stillRuns);
    });
}

std::size_t endRunningScriptsForGood(std::chrono::milliseconds grace) {
    {
        ScriptJob& registry = scriptJob();
        const std::lock_guard<std::mutex> guard(registry.lock);
        registry.closed = true;
    }
    return endRunningScripts(grace);
}

}  // namespace kestova::platform
