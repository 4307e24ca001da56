#include "tests/live/win/keyboard.h"

#include <vector>

namespace qk::live {

namespace {

INPUT keyInput(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void send(std::vector<INPUT>& inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void pause(double seconds) {
    Sleep(static_cast<DWORD>(seconds * 1000 + 0.5));
}

} // namespace

WORD virtualKeyOf(char c) {
    if (c >= 'a' && c <= 'z') return static_cast<WORD>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<WORD>(c);
    if (c == ' ') return VK_SPACE;
    if (c == '\n') return VK_RETURN;
    return 0;
}

bool typeText(std::string_view text, double interval) {
    std::vector<INPUT> inputs;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const WORD key = virtualKeyOf(c);
        if (!key) return false;
        const bool capital = c >= 'A' && c <= 'Z';
        if (capital) inputs.push_back(keyInput(VK_SHIFT, false));
        inputs.push_back(keyInput(key, false));
        inputs.push_back(keyInput(key, true));
        if (capital) inputs.push_back(keyInput(VK_SHIFT, true));
        if (interval > 0) {
            send(inputs);
            inputs.clear();
            if (i + 1 < text.size()) pause(interval);
        }
    }
    if (!inputs.empty()) send(inputs);
    return true;
}

void chord(WORD modifier, WORD key) {
    std::vector<INPUT> inputs{keyInput(modifier, false), keyInput(key, false), keyInput(key, true),
                              keyInput(modifier, true)};
    send(inputs);
}

void repeatKey(WORD key, int downs, double interval) {
    for (int i = 0; i < downs; ++i) {
        std::vector<INPUT> inputs{keyInput(key, false)};
        send(inputs);
        pause(interval);
    }
    std::vector<INPUT> inputs{keyInput(key, true)};
    send(inputs);
}

void click(int x, int y) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((static_cast<long long>(x - left) * 65535 + (width - 2) / 2) /
                                    (width - 1));
    input.mi.dy = static_cast<LONG>((static_cast<long long>(y - top) * 65535 + (height - 2) / 2) /
                                    (height - 1));
    input.mi.dwFlags =
        MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | MOUSEEVENTF_LEFTDOWN;
    std::vector<INPUT> inputs{input};
    inputs.push_back(input);
    inputs.back().mi.dwFlags =
        MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK | MOUSEEVENTF_LEFTUP;
    send(inputs);
}

} // namespace qk::live
