// Windows only; the library takes every .cpp of the folder, so the file is empty elsewhere.
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need.
#include <windowsx.h>

#include "gui/Win32Window.h"

#include "gui/Controls.h"
#include "gui/Frame.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

namespace gui {

namespace {

constexpr wchar_t kClassName[] = L"VeltranoEditorWindow";

// The window class, registered while windows of it exist.
std::mutex classLock;
int windowsAlive = 0; // under classLock

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

HWND hwndOf(void* window) {
    return static_cast<HWND>(window);
}

Point pointOf(LPARAM lParam) {
    return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

// The toolkit's button and modifier bits of a mouse message's key state.
int buttonsOf(WPARAM state) {
    int buttons = 0;
    buttons |= (state & MK_LBUTTON) != 0 ? kLButton : 0;
    buttons |= (state & MK_MBUTTON) != 0 ? kMButton : 0;
    buttons |= (state & MK_RBUTTON) != 0 ? kRButton : 0;
    buttons |= (state & MK_SHIFT) != 0 ? kShift : 0;
    buttons |= (state & MK_CONTROL) != 0 ? kControl : 0;
    buttons |= GetKeyState(VK_MENU) < 0 ? kAlt : 0;
    return buttons;
}

int modifiersNow() {
    int modifiers = 0;
    modifiers |= GetKeyState(VK_SHIFT) < 0 ? kShift : 0;
    modifiers |= GetKeyState(VK_CONTROL) < 0 ? kControl : 0;
    modifiers |= GetKeyState(VK_MENU) < 0 ? kAlt : 0;
    return modifiers;
}

Key keyOf(WPARAM virtualKey) {
    switch (virtualKey) {
    case VK_UP:
        return Key::kUp;
    case VK_DOWN:
        return Key::kDown;
    case VK_PRIOR:
        return Key::kPageUp;
    case VK_NEXT:
        return Key::kPageDown;
    case VK_HOME:
        return Key::kHome;
    case VK_END:
        return Key::kEnd;
    default:
        return Key::kOther;
    }
}

std::wstring wideOf(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    }
    return wide;
}

std::string utf8Of(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    }
    return utf8;
}

std::wstring textOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

} // namespace

// The window procedures: the object is found through the window's user data.
struct Win32Procedures {
    static LRESULT CALLBACK window(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        try {
            if (message == WM_NCCREATE) {
                const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
                auto* self = static_cast<Win32Window*>(create->lpCreateParams);
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
                self->window_ = hwnd;
            }
            auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (message == WM_NCDESTROY) {
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                if (self != nullptr) {
                    self->window_ = nullptr;
                }
                self = nullptr;
            }
            if (self != nullptr) {
                return self->handleMessage(message, wParam, lParam);
            }
        } catch (...) {
            // Nothing may unwind into the system's or the host's code; the message counts as
            // handled by default.
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    static LRESULT CALLBACK edit(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self == nullptr || self->edit_ != hwnd) {
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        try {
            return self->handleEditMessage(message, wParam, lParam);
        } catch (...) {
            return 0;
        }
    }
};

std::unique_ptr<Win32Window> Win32Window::open(void* parent, int width, int height) {
    if (parent == nullptr || !IsWindow(hwndOf(parent)) || width <= 0 || height <= 0) {
        return nullptr;
    }
    const HINSTANCE instance = moduleInstance();
    {
        std::lock_guard lock(classLock);
        if (windowsAlive == 0) {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = &Win32Procedures::window;
            windowClass.hInstance = instance;
            windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
            windowClass.lpszClassName = kClassName;
            if (RegisterClassExW(&windowClass) == 0 &&
                GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
                return nullptr;
            }
        }
        ++windowsAlive; // given back by the destructor, also when the window is not made
    }
    std::unique_ptr<Win32Window> made(new Win32Window(width, height));
    CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width,
                    height, hwndOf(parent), nullptr, instance, made.get());
    if (made->window_ == nullptr) {
        return nullptr;
    }
    return made;
}

Win32Window::Win32Window(int width, int height) : width_(width), height_(height) {}

Win32Window::~Win32Window() {
    attach(nullptr);
    if (window_ != nullptr) {
        DestroyWindow(hwndOf(window_)); // WM_NCDESTROY forgets the handle
    }
    std::lock_guard lock(classLock);
    if (--windowsAlive == 0) {
        UnregisterClassW(kClassName, moduleInstance());
    }
}

void Win32Window::attach(CFrame* frame) {
    if (frame != frame_) {
        endTextEditing(false, false);
        if (pressed_ != 0) {
            pressed_ = 0;
            if (window_ != nullptr && GetCapture() == hwndOf(window_)) {
                ReleaseCapture();
            }
        }
    }
    frame_ = frame;
    if (frame_ != nullptr && window_ != nullptr) {
        InvalidateRect(hwndOf(window_), nullptr, FALSE);
    }
}

void Win32Window::blit(void* dc, const Surface& surface, const Rect& area) const {
    const Rect shown{0, 0, std::min(surface.width(), width_), std::min(surface.height(), height_)};
    const Rect r = area.intersect(shown);
    if (r.isEmpty()) {
        return;
    }
    // The area's rows as a top-down DIB of the surface's width, shown from column r.left.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = surface.width();
    info.bmiHeader.biHeight = -static_cast<LONG>(r.height());
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const Pixel* rows = surface.data() +
                        static_cast<std::size_t>(r.top) * static_cast<std::size_t>(surface.width());
    SetDIBitsToDevice(static_cast<HDC>(dc), r.left, r.top, static_cast<DWORD>(r.width()),
                      static_cast<DWORD>(r.height()), r.left, 0, 0, static_cast<UINT>(r.height()),
                      rows, &info, DIB_RGB_COLORS);
}

void Win32Window::present(const Surface& surface, const Rect& area) {
    if (window_ == nullptr) {
        return;
    }
    const HWND hwnd = hwndOf(window_);
    if (HDC dc = GetDC(hwnd); dc != nullptr) {
        blit(dc, surface, area); // the edit box, a child window, is clipped out
        ReleaseDC(hwnd, dc);
    }
}

std::optional<Point> Win32Window::pointer() {
    POINT where{};
    if (window_ == nullptr || !GetCursorPos(&where) || !ScreenToClient(hwndOf(window_), &where)) {
        return std::nullopt;
    }
    return Point{where.x, where.y};
}

std::intptr_t Win32Window::handleMessage(unsigned message, std::uintptr_t wParam,
                                         std::intptr_t lParam) {
    const HWND hwnd = hwndOf(window_);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(hwnd, &paint); dc != nullptr) {
            const Rect area{paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right,
                            paint.rcPaint.bottom};
            if (frame_ != nullptr) {
                blit(dc, frame_->surface(), area);
            } else {
                FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            }
            EndPaint(hwnd, &paint);
        }
        return 0;
    }
    case WM_PRINTCLIENT:
        if (frame_ != nullptr) {
            blit(reinterpret_cast<HDC>(wParam), frame_->surface(), frame_->bounds());
        }
        return 0;
    case WM_ERASEBKGND:
        return 1; // every pixel is ours
    case WM_LBUTTONDOWN:
        press(kLButton, wParam, lParam);
        return 0;
    case WM_MBUTTONDOWN:
        press(kMButton, wParam, lParam);
        return 0;
    case WM_RBUTTONDOWN:
        press(kRButton, wParam, lParam);
        return 0;
    case WM_LBUTTONUP:
        release(kLButton, wParam, lParam);
        return 0;
    case WM_MBUTTONUP:
        release(kMButton, wParam, lParam);
        return 0;
    case WM_RBUTTONUP:
        release(kRButton, wParam, lParam);
        return 0;
    case WM_MOUSEMOVE:
        lastPointer_ = pointOf(lParam);
        if (frame_ != nullptr) {
            frame_->mouseMoved(lastPointer_, buttonsOf(wParam));
            frame_->idle();
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (pressed_ != 0 && reinterpret_cast<HWND>(lParam) != hwnd) {
            lostCapture();
        }
        return 0;
    case WM_MOUSEWHEEL: {
        if (frame_ == nullptr) {
            break;
        }
        // Screen coordinates; a notch is WHEEL_DELTA, finer wheels send parts of it.
        POINT where{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(hwnd, &where);
        const float notches =
            static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / static_cast<float>(WHEEL_DELTA);
        const bool taken =
            frame_->wheel({where.x, where.y}, notches, buttonsOf(GET_KEYSTATE_WPARAM(wParam)));
        frame_->idle();
        if (taken) {
            return 0;
        }
        break; // DefWindowProc offers it to the host's window
    }
    case WM_KEYDOWN: {
        if (frame_ == nullptr) {
            break;
        }
        KeyEvent key;
        key.key = keyOf(wParam);
        key.modifiers = modifiersNow();
        if (key.key != Key::kOther && frame_->keyDown(key)) {
            frame_->idle();
            return 0;
        }
        break;
    }
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS; // a host's dialog must not take the arrows for navigation
    case WM_DESTROY:
        // The host's window going first takes ours with it: the frame is still there, so
        // what was typed is kept.
        if (editedField_ != nullptr) {
            endTextEditing(true);
        }
        pressed_ = 0;
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32Window::press(int button, std::uintptr_t wParam, std::intptr_t lParam) {
    lastPointer_ = pointOf(lParam);
    if (frame_ == nullptr) {
        return;
    }
    if (editedField_ != nullptr) {
        endTextEditing(true); // a click beside the box commits it first
    }
    const HWND hwnd = hwndOf(window_);
    SetFocus(hwnd); // the keys go to the control clicked; an edit box takes them back
    if (pressed_ == 0) {
        SetCapture(hwnd);
    }
    pressed_ |= button;
    inPress_ = true;
    pressLost_ = false;
    frame_->mouseDown(lastPointer_, buttonsOf(wParam) | button);
    inPress_ = false;
    if (frame_ == nullptr) {
        return; // detached from inside the press
    }
    if (pressLost_) {
        // A dialog opened by the press (Report, Help) took the capture: the release it got
        // will never come here.
        pressLost_ = false;
        frame_->mouseUp(lastPointer_, buttonsOf(wParam) & kModifiers);
    }
    frame_->idle();
}

void Win32Window::release(int button, std::uintptr_t wParam, std::intptr_t lParam) {
    lastPointer_ = pointOf(lParam);
    if ((pressed_ & button) == 0) {
        return; // pressed elsewhere, or the gesture already ended
    }
    pressed_ &= ~button;
    if (pressed_ == 0 && GetCapture() == hwndOf(window_)) {
        ReleaseCapture(); // WM_CAPTURECHANGED sees no button pressed
    }
    if (frame_ != nullptr) {
        frame_->mouseUp(lastPointer_, buttonsOf(wParam) | button);
        frame_->idle();
    }
}

void Win32Window::lostCapture() {
    pressed_ = 0;
    if (inPress_) {
        pressLost_ = true; // ended once the press has returned
        return;
    }
    if (frame_ != nullptr) {
        frame_->mouseUp(lastPointer_, modifiersNow());
        frame_->idle();
    }
}

void Win32Window::beginTextEditing(CTextEdit& field) {
    if (editedField_ == &field) {
        return;
    }
    if (editedField_ != nullptr) {
        endTextEditing(true);
    }
    if (window_ == nullptr) {
        field.cancel();
        return;
    }
    const Rect box = field.rect();
    const HWND edit = CreateWindowExW(0, L"EDIT", wideOf(field.text()).c_str(),
                                      WS_CHILD | WS_VISIBLE | ES_LEFT | ES_AUTOHSCROLL, box.left,
                                      box.top, box.width(), box.height(), hwndOf(window_), nullptr,
                                      moduleInstance(), nullptr);
    if (edit == nullptr) {
        field.cancel();
        return;
    }
    // The field's font: a positive LOGFONT height is the character cell, as the toolkit's.
    const HFONT font =
        CreateFontW(field.font().height(), 0, 0, 0,
                    field.font().weight() == FontWeight::Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    if (font != nullptr) {
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(1, 1));
    SendMessageW(edit, EM_LIMITTEXT, CTextEdit::kMaxLength, 0);
    editFont_ = font;
    edit_ = edit;
    editedField_ = &field;
    SetWindowLongPtrW(edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    editProcedure_ =
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Procedures::edit));
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
}

std::intptr_t Win32Window::handleEditMessage(unsigned message, std::uintptr_t wParam,
                                             std::intptr_t lParam) {
    const HWND edit = hwndOf(edit_);
    const auto original = reinterpret_cast<WNDPROC>(editProcedure_);
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | CallWindowProcW(original, edit, message, wParam, lParam);
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            endTextEditing(true); // destroys the box: nothing of it may be touched after
            return 0;
        }
        if (wParam == VK_ESCAPE) {
            endTextEditing(false);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L'\r' || wParam == L'\n' || wParam == 0x1B) {
            return 0; // no beep for the keys handled above
        }
        break;
    case WM_KILLFOCUS: {
        const LRESULT result = CallWindowProcW(original, edit, message, wParam, lParam);
        endTextEditing(true);
        return result;
    }
    default:
        break;
    }
    return CallWindowProcW(original, edit, message, wParam, lParam);
}

void Win32Window::endTextEditing(bool commit, bool callField) {
    CTextEdit* field = std::exchange(editedField_, nullptr);
    if (field == nullptr) {
        return;
    }
    const HWND edit = hwndOf(std::exchange(edit_, nullptr));
    // From here on the box's messages go straight to its own procedure.
    SetWindowLongPtrW(edit, GWLP_WNDPROC, std::exchange(editProcedure_, 0));
    const std::string typed = utf8Of(textOf(edit));
    // The keys come back to the editor rather than going nowhere.
    if (window_ != nullptr && GetFocus() == edit) {
        SetFocus(hwndOf(window_));
    }
    DestroyWindow(edit);
    if (editFont_ != nullptr) {
        DeleteObject(static_cast<HFONT>(std::exchange(editFont_, nullptr)));
    }
    if (!callField) {
        return;
    }
    if (commit) {
        field->commit(typed);
    } else {
        field->cancel();
    }
    field->invalid(); // the field without the box
}

} // namespace gui

#endif // _WIN32
