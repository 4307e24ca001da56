#include "platform/win/front_window.h"

#include <algorithm>
#include <array>

namespace qk::win {

namespace {

// Newest first. A hold belongs to one process, and the front changes rarely, so a few suffice.
std::array<FrontWindow, 8> recent{};

void remember(const FrontWindow& front) {
    auto found = std::find_if(recent.begin(), recent.end(),
                              [&](const FrontWindow& seen) { return seen.pid == front.pid; });
    if (found == recent.end()) found = recent.end() - 1;
    std::move_backward(recent.begin(), found, found + 1);
    recent.front() = front;
}

// The mandatory integrity level of a process's token (its relative identifier), or -1 if unknown.
long integrityLevel(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return -1;
    alignas(TOKEN_MANDATORY_LABEL) unsigned char buffer[128];
    DWORD size = 0;
    long level = -1;
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer);
        const PSID sid = label->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0) level = static_cast<long>(*GetSidSubAuthority(sid, count - 1u));
    }
    CloseHandle(token);
    return level;
}

long ownIntegrityLevel() {
    static const long level = integrityLevel(GetCurrentProcess());
    return level;
}

// A process this one may hand input to: itself, or one whose integrity level is known and not
// higher. One whose token cannot even be read is taken as out of reach.
bool reachable(DWORD pid) {
    if (pid == GetCurrentProcessId()) return true;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    const long theirs = integrityLevel(process);
    CloseHandle(process);
    return theirs >= 0 && theirs <= ownIntegrityLevel();
}

} // namespace

FrontWindow frontWindow() {
    FrontWindow front;
    front.window = GetForegroundWindow();
    if (!front.window) return front;
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(front.window, &pid);
    front.pid = static_cast<Pid>(pid);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    front.focus = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : front.window;
    if (front.pid != 0) remember(front);
    return front;
}

const FrontWindow* lastSeenInFront(Pid pid) {
    for (const FrontWindow& seen : recent)
        if (seen.pid == pid && pid != 0) return &seen;
    return nullptr;
}

namespace {

bool reachableInFront = true;

void noteFront(HWND window) {
    DWORD pid = 0;
    if (window) GetWindowThreadProcessId(window, &pid);
    reachableInFront = !window || reachable(pid);
}

void CALLBACK onForeground(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
    noteFront(window);
}

} // namespace

bool watchFront() {
    noteFront(GetForegroundWindow());
    return SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, onForeground,
                           0, 0, WINEVENT_OUTOFCONTEXT) != nullptr;
}

bool frontReachable() {
    return reachableInFront;
}

} // namespace qk::win
