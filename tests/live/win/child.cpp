#include "tests/live/win/child.h"

namespace qk::live {

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

Child::~Child() {
    closeInput();
    if (process.hProcess) {
        if (waitForExit(0) < 0) TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (reader) {
        WaitForSingleObject(reader, 5000);
        CloseHandle(reader);
    }
    if (outputRead) CloseHandle(outputRead);
    CloseHandle(changed);
    DeleteCriticalSection(&lock);
}

bool Child::start(const std::wstring& commandLine, Input input, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inputRead = nullptr, outputWrite = nullptr;
    if (!CreatePipe(&outputRead, &outputWrite, &inherit, 0) ||
        (input == Input::pipe && !CreatePipe(&inputRead, &inputWrite, &inherit, 0))) {
        error = "cannot make pipes";
        return false;
    }
    // The test's own ends stay in the test.
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    if (inputWrite) SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead; // none: the child starts without standard input
    startup.hStdOutput = outputWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = commandLine;
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, nullptr, &startup, &process);
    if (inputRead) CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (!started) {
        error = "cannot start the program (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    reader = CreateThread(nullptr, 0, readOutput, this, 0, nullptr);
    return reader != nullptr;
}

DWORD WINAPI Child::readOutput(void* self) {
    Child& child = *static_cast<Child*>(self);
    std::string partial;
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(child.outputRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        partial.append(buffer, got);
        std::size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            std::string line = partial.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            partial.erase(0, end + 1);
            EnterCriticalSection(&child.lock);
            child.received.push_back(std::move(line));
            LeaveCriticalSection(&child.lock);
            SetEvent(child.changed);
        }
    }
    EnterCriticalSection(&child.lock);
    if (!partial.empty()) child.received.push_back(partial);
    child.ended = true;
    LeaveCriticalSection(&child.lock);
    SetEvent(child.changed);
    return 0;
}

void Child::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    DWORD wrote = 0;
    if (inputWrite)
        WriteFile(inputWrite, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

void Child::closeInput() {
    if (inputWrite) CloseHandle(inputWrite);
    inputWrite = nullptr;
}

std::string Child::waitForLine(const std::string& prefix, double seconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (;;) {
        EnterCriticalSection(&lock);
        std::string found;
        bool done = ended;
        for (; taken < received.size(); ++taken) {
            if (received[taken].rfind(prefix, 0) == 0) {
                found = received[taken++];
                done = true;
                break;
            }
        }
        LeaveCriticalSection(&lock);
        if (!found.empty() || done) return found;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return {};
        WaitForSingleObject(changed, static_cast<DWORD>(deadline - now));
    }
}

std::vector<std::string> Child::lines() {
    EnterCriticalSection(&lock);
    std::vector<std::string> copy = received;
    LeaveCriticalSection(&lock);
    return copy;
}

int Child::waitForExit(double seconds) {
    if (!process.hProcess) return -1;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0)
        return -1;
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    return static_cast<int>(status);
}

} // namespace qk::live
