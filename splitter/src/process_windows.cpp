// The helper processes on Windows: CreateProcessW of our own executable,
// its standard input an anonymous pipe, its standard output a named pipe
// that we read with a deadline (overlapped), and a job object per helper that
// ends it when the splitter goes, however the splitter ends.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include "process.h"

#include <windows.h>

#include <io.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "wide_text.h"

namespace orvane {

namespace {

HANDLE parentIn = INVALID_HANDLE_VALUE, parentOut = INVALID_HANDLE_VALUE;
// The name of the job the parent puts helper `pid` in. The helper opens it by
// this name to set its own memory limit there: a process cannot join a second
// job before Windows 8, so a job of the helper's own is not to be had on
// Windows 7, while the parent's job holds this one helper alone.
std::wstring helperJobName(DWORD pid) { return L"Local\\orvane-helper-" + std::to_wstring(pid); }

// The limits of a helper's job, set by the parent and again, with the memory
// limit added, by the helper: setting them replaces them all, and a job's
// limits cannot be relied on to be read back (wine gives none), so both
// sides name them. Kill-on-close ends the helper with the splitter; a crash
// ends it at once, with no dialog waiting for a user.
constexpr DWORD kHelperJobLimits = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;

void closeHandle(HANDLE& h) {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

bool writeAll(HANDLE h, const char* p, std::size_t n) {
    while (n > 0) {
        DWORD done = 0;
        const DWORD chunk = n > 65536 ? 65536 : static_cast<DWORD>(n);
        if (!WriteFile(h, p, chunk, &done, nullptr) || done == 0) return false;
        p += done;
        n -= done;
    }
    return true;
}

bool readAll(HANDLE h, char* out, std::size_t size) {
    for (std::size_t got = 0; got < size;) {
        DWORD n = 0;
        const DWORD chunk = size - got > 65536 ? 65536 : static_cast<DWORD>(size - got);
        if (!ReadFile(h, out + got, chunk, &n, nullptr) || n == 0) return false;
        got += n;
    }
    return true;
}

// A read that failed with `error`: the child's end closed, or the pipe broke.
ReadEnd endOfRead(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? ReadEnd::Closed : ReadEnd::Failed;
}

// An exit code in the range of NTSTATUS errors: an access violation, a
// stack overflow, an unhandled exception.
bool crashCode(DWORD code) { return code >= 0xC0000000u; }

// A helper's last word on a fault nothing caught: a stack overflow, an
// access violation. It runs on what is left of the stack, so it only ends
// the process.
LONG WINAPI endOnFault(EXCEPTION_POINTERS* fault) {
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

struct ChildProcess::Native {
    HANDLE process = nullptr;
    HANDLE job = nullptr;      // kill-on-close: the helper ends with us
    HANDLE toChild = nullptr;  // its standard input
    HANDLE fromChild = nullptr;  // its standard output, overlapped
    HANDLE readDone = nullptr;   // the event of an overlapped read
};

ChildProcess::ChildProcess() : native_(new Native) {}

ChildProcess::~ChildProcess() { stop(true); }

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& args) {
    stop(true);
    static std::atomic<unsigned> serial{0};
    const std::wstring pipeName = L"\\\\.\\pipe\\orvane-helper-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++serial);
    Native n;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
    bool ok = false;
    do {
        n.fromChild = CreateNamedPipeW(pipeName.c_str(),
                                       PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0,
                                       nullptr);
        if (n.fromChild == INVALID_HANDLE_VALUE) {
            n.fromChild = nullptr;
            break;
        }
        childOut = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        if (childOut == INVALID_HANDLE_VALUE) {
            childOut = nullptr;
            break;
        }
        if (!CreatePipe(&childIn, &n.toChild, &inherit, 0)) break;
        SetHandleInformation(n.toChild, HANDLE_FLAG_INHERIT, 0);
        // Our standard error, for the helper's reports, if we have one.
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        if (err && err != INVALID_HANDLE_VALUE)
            DuplicateHandle(GetCurrentProcess(), err, GetCurrentProcess(), &childErr, 0, TRUE,
                            DUPLICATE_SAME_ACCESS);
        n.readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!n.readDone) break;

        // Only these handles pass to the helper, whatever other threads
        // have open and inheritable at this moment.
        HANDLE passed[3] = {childIn, childOut, childErr};
        const DWORD passedCount = childErr ? 3 : 2;
        SIZE_T attrSize = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
        std::string attrBuffer(attrSize, '\0');
        auto* attrs = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&attrBuffer[0]);
        if (!InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize)) break;
        const bool listed = UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, passed,
                                                      passedCount * sizeof(HANDLE), nullptr, nullptr);
        STARTUPINFOEXW start{};
        start.StartupInfo.cb = sizeof start;
        start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        start.StartupInfo.hStdInput = childIn;
        start.StartupInfo.hStdOutput = childOut;
        start.StartupInfo.hStdError = childErr;
        start.lpAttributeList = attrs;
        // Windows paths hold no quotes; the mode's arguments hold no spaces.
        std::wstring commandLine = L"\"" + wstring_from_utf8(program) + L"\"";
        for (const std::string& a : args) commandLine += L" " + wstring_from_utf8(a);
        PROCESS_INFORMATION info{};
        const bool created =
            listed && CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                     CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                     &start.StartupInfo, &info);
        DeleteProcThreadAttributeList(attrs);
        if (!created) break;
        // In its job before it runs a single instruction.
        n.job = CreateJobObjectW(nullptr, helperJobName(info.dwProcessId).c_str());
        // A job of that name left from before is not ours to use.
        const bool fresh = n.job && GetLastError() != ERROR_ALREADY_EXISTS;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = kHelperJobLimits;
        if (!fresh ||
            !SetInformationJobObject(n.job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(n.job, info.hProcess)) {
            TerminateProcess(info.hProcess, 1);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
            break;
        }
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        n.process = info.hProcess;
        ok = true;
    } while (false);
    // The helper's ends are its own now: with them closed here, its end
    // reads as the end of data on our side.
    closeHandle(childIn);
    closeHandle(childOut);
    closeHandle(childErr);
    if (!ok) {
        closeHandle(n.toChild);
        closeHandle(n.fromChild);
        closeHandle(n.readDone);
        closeHandle(n.job);
        return false;
    }
    *native_ = n;
    return true;
}

bool ChildProcess::running() const { return native_->process != nullptr; }

bool ChildProcess::write(const void* data, std::size_t size) {
    return running() && writeAll(native_->toChild, static_cast<const char*>(data), size);
}

ReadEnd ChildProcess::read(void* out, std::size_t size, Deadline deadline) {
    if (!running()) return ReadEnd::Failed;
    char* p = static_cast<char*>(out);
    for (std::size_t got = 0; got < size;) {
        const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now())
                                   .count();
        if (left <= 0) return ReadEnd::TimedOut;
        OVERLAPPED ov{};
        ov.hEvent = native_->readDone;
        ResetEvent(ov.hEvent);
        DWORD n = 0;
        const DWORD chunk = size - got > 65536 ? 65536 : static_cast<DWORD>(size - got);
        if (!ReadFile(native_->fromChild, p + got, chunk, nullptr, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) return endOfRead(GetLastError());
            const DWORD waited = WaitForSingleObject(ov.hEvent, static_cast<DWORD>(left));
            if (waited != WAIT_OBJECT_0) {
                // The read must be over before its buffer goes.
                CancelIoEx(native_->fromChild, &ov);
                GetOverlappedResult(native_->fromChild, &ov, &n, TRUE);
                return waited == WAIT_TIMEOUT ? ReadEnd::TimedOut : ReadEnd::Failed;
            }
        }
        if (!GetOverlappedResult(native_->fromChild, &ov, &n, FALSE)) return endOfRead(GetLastError());
        if (n == 0) return ReadEnd::Closed;
        got += n;
    }
    return ReadEnd::Done;
}

ChildExit ChildProcess::stop(bool kill, std::chrono::milliseconds grace) {
    Native& n = *native_;
    if (!n.process) return ChildExit::Normal;
    closeHandle(n.toChild);
    closeHandle(n.fromChild);
    closeHandle(n.readDone);
    bool killed = kill;
    if (!kill && WaitForSingleObject(n.process, static_cast<DWORD>(grace.count())) != WAIT_OBJECT_0)
        killed = true;
    if (killed) {
        TerminateProcess(n.process, 1);
        WaitForSingleObject(n.process, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(n.process, &code);
    closeHandle(n.process);
    closeHandle(n.job);
    if (killed) return ChildExit::Killed;
    return crashCode(code) ? ChildExit::Crashed : ChildExit::Normal;
}

std::string ownExecutable() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    return utf8_from_wstring(path);
}

std::string ownProcessId() { return std::to_string(GetCurrentProcessId()); }

bool becomeHelper(const std::string&) {
    // The parent's job ends the helper with the parent; a crash ends it
    // plainly, with no dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // And with the fault's own code as its exit status, which is how the
    // parent tells a crash (crashCode). Without this filter a system that
    // starts a debugger on a fault, as wine does, ends the helper with
    // another status, and a file that crashes qpdf would read as "no process".
    SetUnhandledExceptionFilter(endOnFault);
    // The protocol moves off the standard handles: a library that prints to
    // standard output must not write into a reply.
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &parentIn, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &parentOut, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return false;
    if (!std::freopen("NUL", "r", stdin) || !std::freopen("NUL", "w", stdout)) return false;
    // And for those that write to the system's handle, not the C library's.
    SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))));
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
    return true;
}

bool readFromParent(void* out, std::size_t size) { return readAll(parentIn, static_cast<char*>(out), size); }

bool writeToParent(const void* data, std::size_t size) {
    return writeAll(parentOut, static_cast<const char*>(data), size);
}

void limitOwnMemory(std::size_t extra) {
    // The limit goes on the parent's job for this helper, set afresh for
    // every file, with the job's other limits (kill-on-close above all).
    PROCESS_MEMORY_COUNTERS_EX used{};
    used.cb = sizeof used;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&used), sizeof used))
        return;
    // Opened for this call only: the job ends the helper when its last handle
    // closes, and that must be the splitter's.
    const HANDLE job = OpenJobObjectW(JOB_OBJECT_SET_ATTRIBUTES, FALSE, helperJobName(GetCurrentProcessId()).c_str());
    if (!job) return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = kHelperJobLimits | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = used.PrivateUsage + extra;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    CloseHandle(job);
}

}  // namespace orvane
