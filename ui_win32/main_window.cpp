// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The Win32 face of the window: user32, comctl32 (classic, version 5: the
// manifest asks for no themed controls, whose status bar ignores
// SB_SETBKCOLOR), gdi32, comdlg32 and shell32 for dropped files.
#include "ui_win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/wide_text.h"
#include "serial/port_list.h"
#include "ui_win32/resource.h"
#include "window/texts.h"

namespace zelk::win32 {

namespace {

constexpr wchar_t kContainerClass[] = L"ZelkContainer";
constexpr int kStatusRightEdges[] = {200, 350, -1};  // panels of 200, 150 and the rest
constexpr int kSpeedListHeight = 200;
constexpr int kStartListHeight = 80;

COLORREF ToColorRef(TRgb rgb) { return RGB(rgb.R, rgb.G, rgb.B); }

[[noreturn]] void ThrowLastError(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), Win32Category(), what);
}

HFONT MakeFont(int pixelHeight, bool bold) {
    // The nearest to Windows' bold "System" face that has Cyrillic letters;
    // Arial where there is one, Wine's own substitute otherwise.
    return ::CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
                         L"Arial");
}

// The filter list, "name|patterns|...", as the dialog takes it: NUL-separated, two NULs at the end.
std::wstring DialogFilter(const char* filter) {
    std::wstring wide = Utf8ToWide(filter);
    for (wchar_t& c : wide)
        if (c == L'|') c = L'\0';
    wide.push_back(L'\0');
    wide.push_back(L'\0');
    return wide;
}

void RegisterClasses(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                       ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.lpfnWndProc = ::DefWindowProcW;  // replaced per window below
    main.hInstance = instance;
    main.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(ZELK_IDI_APP));
    main.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(ZELK_IDI_APP), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    main.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kMainWindowClass;
    WNDCLASSEXW container = main;
    container.hIcon = nullptr;
    container.hIconSm = nullptr;
    container.lpszClassName = kContainerClass;
    if (!::RegisterClassExW(&main) || !::RegisterClassExW(&container)) ThrowLastError("RegisterClassEx");
    registered = true;
}

}  // namespace

TMainWindow::TMainWindow(HINSTANCE instance) : instance_(instance) {
    RegisterClasses(instance);
    {
        // Declared DPI-aware in the manifest: the design's pixels grow with the system's DPI.
        const HDC screen = ::GetDC(nullptr);
        dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
        if (dpi_ <= 0) dpi_ = 96;
    }
    boldFont_ = MakeFont(Px(13), true);
    plainFont_ = MakeFont(Px(13), false);
    windowBrush_ = ::GetSysColorBrush(COLOR_WINDOW);

    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, Px(kClientWidth), Px(kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT);
    hwnd_ = ::CreateWindowExW(WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT, kMainWindowClass,
                              Utf8ToWide(texts::kWindowCaption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (hwnd_ == nullptr) ThrowLastError("CreateWindowEx");
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);

    CreateControls();
    pump_ = std::make_unique<TMainThreadPump>(queue_, hwnd_, kRunPendingMessage);
    TWindowFace& face = *this;
    logic_ = std::make_unique<TWindowLogic>(face, ComPortFactory(queue_.Invoker()),
                                            TDeviceSource{ListSerialDevices, true});
    logic_->ShowAll();
}

TMainWindow::~TMainWindow() {
    // The port first: its reader hands calls to the queue and the pump.
    logic_.reset();
    pump_.reset();
    if (hwnd_ != nullptr) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    if (tips_ != nullptr) ::DestroyWindow(tips_);
    ::DeleteObject(boldFont_);
    ::DeleteObject(plainFont_);
}

int TMainWindow::Px(int designPixels) const { return ::MulDiv(designPixels, dpi_, 96); }

HWND TMainWindow::Control(int id) const {
    if (const HWND direct = ::GetDlgItem(hwnd_, id)) return direct;
    for (const int container : {kIdPanel1, kIdTabSheet1, kIdTabSheet2})
        if (const HWND found = ::GetDlgItem(::GetDlgItem(hwnd_, container), id)) return found;
    return nullptr;
}

HWND TMainWindow::Make(HWND parent, int id, const wchar_t* cls, const std::string& text, DWORD style, int left,
                       int top, int width, int height, DWORD exStyle) {
    const HWND control = ::CreateWindowExW(exStyle, cls, Utf8ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                                           Px(left), Px(top), Px(width), Px(height), parent,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control == nullptr) ThrowLastError("CreateWindowEx");
    // Classic controls, as comctl32 version 5 draws them on Windows. Wine's
    // comctl32 applies its theme whatever the manifest says, and a themed
    // status bar ignores SB_SETBKCOLOR: no theme for any control.
    ::SetWindowTheme(control, L" ", L" ");
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);
    return control;
}

void TMainWindow::Hint(HWND control, const std::string& text) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    std::wstring wide = Utf8ToWide(text);
    tool.lpszText = wide.data();
    ::SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TMainWindow::CreateControls() {
    using namespace texts;
    tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_,
                              nullptr);
    // Several lines for the device's hint.
    ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Px(420));

    // The top panel: port number, speed, port button, device, "?".
    const HWND panel = Make(hwnd_, kIdPanel1, kContainerClass, "", WS_CLIPSIBLINGS, 0, 0, 481, 25,
                            WS_EX_CONTROLPARENT | WS_EX_WINDOWEDGE);
    ::SetWindowLongPtrW(panel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ContainerProc));
    Make(panel, kIdLabel4, L"STATIC", kComLabel, 0, 53, 3, 31, 16);
    const HWND edtCom =
        Make(panel, kIdEdtCom, L"EDIT", "1", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 88, 0, 25, 24, WS_EX_CLIENTEDGE);
    Hint(edtCom, kPortNumberHint);
    const HWND upDown = Make(panel, kIdUDCom, UPDOWN_CLASSW, "", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                             113, 0, 24, 24);
    ::SendMessageW(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edtCom), 0);
    ::SendMessageW(upDown, UDM_SETRANGE32, 1, 20);
    ::SendMessageW(upDown, UDM_SETPOS32, 0, 1);
    // Setting the buddy may move the up-down: back where it was designed.
    ::SetWindowPos(upDown, nullptr, Px(113), 0, Px(24), Px(24), SWP_NOZORDER | SWP_NOACTIVATE);
    Hint(upDown, kPortStepHint);
    const HWND speed = Make(panel, kIdCBSpeed, L"COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP,
                            152, 0, 105, kSpeedListHeight);
    for (const char* item : kSpeedItems)
        ::SendMessageW(speed, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
    ::SendMessageW(speed, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Px(18));
    const HWND btnCom = Make(panel, kIdBtnCom, L"BUTTON", kOpen, BS_PUSHBUTTON | WS_TABSTOP, 272, 0, 81, 25);
    Hint(btnCom, kPortButtonHint);
    const HWND device = Make(panel, kIdLblDevice, L"STATIC", "", SS_NOTIFY | SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS,
                             358, 4, 94, 17);
    ::SendMessageW(device, WM_SETFONT, reinterpret_cast<WPARAM>(plainFont_), FALSE);
    Hint(device, "");
    Make(panel, kIdBtnH, L"BUTTON", kHelpCaption, BS_PUSHBUTTON | WS_TABSTOP, 456, 0, 25, 25);

    // The page control: the tabs, with the two sheets above them.
    const HWND tabs = Make(hwnd_, kIdPageControl1, WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_TABSTOP, 0, 32, 481, 174);
    for (const char* caption : {kLoaderTab, kZelkTab}) {
        std::wstring text = Utf8ToWide(caption);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = text.data();
        const LRESULT count = ::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0);
        ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(&item));
    }
    const HWND sheet1 = Make(hwnd_, kIdTabSheet1, kContainerClass, "", WS_CLIPSIBLINGS, 0, 0, 10, 10,
                             WS_EX_CONTROLPARENT);
    const HWND sheet2 = Make(hwnd_, kIdTabSheet2, kContainerClass, "", WS_CLIPSIBLINGS, 0, 0, 10, 10,
                             WS_EX_CONTROLPARENT);
    for (const HWND sheet : {sheet1, sheet2}) {
        ::SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ContainerProc));
        ::SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }

    const HWND name = Make(sheet1, kIdEdtName, L"EDIT", "", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 24, 16, 169,
                           24, WS_EX_CLIENTEDGE);
    Hint(name, kFileNameHint);
    Hint(Make(sheet1, kIdBtnOpen, L"BUTTON", kOpenFileCaption, BS_PUSHBUTTON | WS_TABSTOP, 200, 16, 129, 25),
         kOpenFileHint);
    const HWND send = Make(sheet1, kIdBtnZelk, L"BUTTON", kSendCaption, BS_PUSHBUTTON | WS_TABSTOP, 352, 8, 113, 41);
    ::EnableWindow(send, FALSE);
    Hint(send, kSendHint);
    Make(sheet1, kIdLabel1, L"STATIC", kStartLabel, 0, 24, 59, 169, 16);
    const HWND start = Make(sheet1, kIdStartBox, L"COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_TABSTOP, 200,
                            56, 73, kStartListHeight);
    for (const char* item : kStartItems)
        ::SendMessageW(start, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
    ::SendMessageW(start, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Px(18));
    ::SendMessageW(start, CB_LIMITTEXT, kStartMaxLength, 0);
    Make(sheet1, kIdLabel2, L"STATIC", kBlocksLabel, 0, 56, 94, 135, 16);
    Hint(Make(sheet1, kIdEdtKol, L"EDIT", "0", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 200, 88, 49, 24,
              WS_EX_CLIENTEDGE),
         kBlocksHint);
    // The group box's own controls sit beside it, at its offset: a group box
    // is no parent.
    Make(sheet1, kIdGBErr, L"BUTTON", kErrorsGroup, BS_GROUPBOX, 320, 64, 145, 49);
    Make(sheet1, kIdLabel5, L"STATIC", kChecksumLabel, 0, 320 + 32, 64 + 20, 26, 16);
    Hint(Make(sheet1, kIdEdtErrKs, L"EDIT", "0", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 320 + 72, 64 + 16, 41,
              24, WS_EX_CLIENTEDGE),
         kChecksumHint);
    const HWND bar = Make(sheet1, kIdPBar, PROGRESS_CLASSW, "", 0, 8, 120, 457, 17);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    Make(sheet2, kIdLabel3, L"STATIC", kReserved, 0, 160, 64, 134, 16);

    const HWND status = Make(hwnd_, kIdStat1, STATUSCLASSNAMEW, "", 0, 0, 0, 0, 0);
    ::SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(plainFont_), FALSE);
    std::array<int, std::size(kStatusRightEdges)> edges{};
    for (std::size_t i = 0; i < edges.size(); ++i)
        edges[i] = kStatusRightEdges[i] < 0 ? -1 : Px(kStatusRightEdges[i]);
    ::SendMessageW(status, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));

    SelectSheet(0);
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    Layout(client.right, client.bottom);
}

// Anchored as designed: the panel follows the width, the page control the
// width and the height, the status bar the bottom.
void TMainWindow::Layout(int width, int height) {
    const HWND tabs = ::GetDlgItem(hwnd_, kIdPageControl1);
    if (tabs == nullptr) return;
    const int dw = width - Px(kClientWidth);
    const int dh = height - Px(kClientHeight);
    ::SetWindowPos(::GetDlgItem(hwnd_, kIdPanel1), nullptr, 0, 0, std::max(0, Px(481) + dw), Px(25),
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    ::SetWindowPos(tabs, nullptr, 0, Px(32), std::max(0, Px(481) + dw), std::max(0, Px(174) + dh),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    RECT page{};
    ::GetClientRect(tabs, &page);
    ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    ::MapWindowPoints(tabs, hwnd_, reinterpret_cast<POINT*>(&page), 2);
    for (const int sheet : {kIdTabSheet1, kIdTabSheet2})
        ::SetWindowPos(::GetDlgItem(hwnd_, sheet), HWND_TOP, page.left, page.top, page.right - page.left,
                       page.bottom - page.top, SWP_NOACTIVATE);
    ::SendMessageW(::GetDlgItem(hwnd_, kIdStat1), WM_SIZE, 0, 0);
}

void TMainWindow::SelectSheet(int index) {
    ::SendMessageW(::GetDlgItem(hwnd_, kIdPageControl1), TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::ShowWindow(::GetDlgItem(hwnd_, kIdTabSheet1), index == 0 ? SW_SHOW : SW_HIDE);
    ::ShowWindow(::GetDlgItem(hwnd_, kIdTabSheet2), index == 1 ? SW_SHOW : SW_HIDE);
}

void TMainWindow::Show(int showCommand) {
    ::ShowWindow(hwnd_, showCommand);
    ::UpdateWindow(hwnd_);
}

std::string TMainWindow::TextOf(HWND control) const {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return WideToUtf8(text);
}

LRESULT CALLBACK TMainWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TMainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->OnMessage(hwnd, msg, wParam, lParam);
}

// The panel and the sheets hand what their controls say to the window.
LRESULT CALLBACK TMainWindow::ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_VSCROLL:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
        return ::SendMessageW(::GetParent(hwnd), msg, wParam, lParam);
    case WM_PAINT:
        if (::GetDlgCtrlID(hwnd) == kIdPanel1) {
            // The panel's raised edge.
            PAINTSTRUCT paint{};
            const HDC dc = ::BeginPaint(hwnd, &paint);
            RECT r{};
            ::GetClientRect(hwnd, &r);
            ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
            ::EndPaint(hwnd, &paint);
            return 0;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT TMainWindow::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case kRunPendingMessage:
        pump_->Ran();
        queue_.RunPending();
        return 0;
    case WM_COMMAND:
        if (!drawing_ && lParam != 0)
            Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_VSCROLL:
        if (!drawing_ && reinterpret_cast<HWND>(lParam) == Control(kIdUDCom) && LOWORD(wParam) == SB_THUMBPOSITION)
            logic_->PortNumberChanged(static_cast<int>(::SendMessageW(Control(kIdUDCom), UDM_GETPOS32, 0, 0)));
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == kIdPageControl1 && header->code == TCN_SELCHANGE)
            SelectSheet(static_cast<int>(::SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        const HWND control = reinterpret_cast<HWND>(lParam);
        const int id = ::GetDlgCtrlID(control);
        if (id == kIdEdtCom || id == kIdEdtName || id == kIdEdtKol || id == kIdEdtErrKs) {
            // Read-only edits stay white, as the form has them.
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            return reinterpret_cast<LRESULT>(windowBrush_);
        }
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        ::SetTextColor(dc, ::GetSysColor(id == kIdLblDevice && !devicePresent_ ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_TIMER:
        if (wParam == kFlashTimer) logic_->tmr1Timer();
        return 0;
    case WM_DROPFILES: {
        const auto drop = reinterpret_cast<HDROP>(wParam);
        // One file at a time, as the dialog picks one.
        if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
            const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
            std::wstring path(length + 1, L'\0');
            ::DragQueryFileW(drop, 0, path.data(), length + 1);
            path.resize(length);
            logic_->FileDropped(WideToUtf8(path));
        }
        ::DragFinish(drop);
        return 0;
    }
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVNODES_CHANGED)
            logic_->DevicesChanged();
        return TRUE;
    case WM_SIZE:
        Layout(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_ENDSESSION:
        // The session ends: the port goes now, the process may not get further.
        if (wParam != 0) logic_->Closing();
        return 0;
    case WM_CLOSE:
        logic_->Closing();
        ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::KillTimer(hwnd, kFlashTimer);
        // From here on the window is no one's.
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void TMainWindow::Command(int id, int code, HWND control) {
    switch (id) {
    case kIdBtnCom:
        if (code == BN_CLICKED) {
            const HWND speed = Control(kIdCBSpeed);
            logic_->BtnComClick(static_cast<int>(::SendMessageW(Control(kIdUDCom), UDM_GETPOS32, 0, 0)),
                                static_cast<int>(::SendMessageW(speed, CB_GETCURSEL, 0, 0)), TextOf(speed));
        }
        break;
    case kIdBtnH:
        if (code == BN_CLICKED) logic_->HelpAbout1Execute();
        break;
    case kIdBtnOpen:
        if (code == BN_CLICKED) logic_->FileOpen1Execute();
        break;
    case kIdBtnZelk:
        if (code == BN_CLICKED) logic_->Btn_z_zelkClick();
        break;
    case kIdCBSpeed:
    case kIdStartBox: {
        std::string text;
        int index = static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0));
        if (code == CBN_SELCHANGE) {
            // The edit shows the item only after this notification.
            const auto length = ::SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
            if (length == CB_ERR) return;
            std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
            ::SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(length));
            text = WideToUtf8(item);
        } else if (code == CBN_EDITCHANGE) {
            text = TextOf(control);
        } else {
            return;
        }
        if (id == kIdCBSpeed)
            logic_->SpeedChanged(index, text);
        else
            logic_->StartBoxChange(text);
        break;
    }
    default:
        break;
    }
}

void TMainWindow::Show(const TWindowState& state, unsigned changes) {
    drawing_ = true;
    const auto setText = [](HWND control, const std::string& text) {
        ::SetWindowTextW(control, Utf8ToWide(text).c_str());
    };
    if (changes & kChangePortCaption) setText(Control(kIdBtnCom), state.PortCaption);
    if (changes & kChangeSendButton) {
        setText(Control(kIdBtnZelk), state.SendCaption);
        ::EnableWindow(Control(kIdBtnZelk), state.SendEnabled);
    }
    if (changes & kChangeLoadEnabled) ::EnableWindow(Control(kIdBtnOpen), state.LoadEnabled);
    const HWND status = Control(kIdStat1);
    if (changes & kChangePanels)
        for (std::size_t i = 0; i < state.Panels.size(); ++i)
            ::SendMessageW(status, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(Utf8ToWide(state.Panels[i]).c_str()));
    if (changes & kChangeFlash) {
        statusColor_ = state.Flash == TFlash::Failure   ? ToColorRef(kFailureRgb)
                       : state.Flash == TFlash::Success ? ToColorRef(kSuccessRgb)
                                                        : CLR_DEFAULT;
        ::SendMessageW(status, SB_SETBKCOLOR, 0, static_cast<LPARAM>(statusColor_));
        ::InvalidateRect(status, nullptr, TRUE);
    }
    if (changes & kChangeFile) {
        setText(Control(kIdEdtName), state.FileName);
        setText(Control(kIdEdtKol), state.BlockCount);
    }
    if (changes & kChangeErrorCount) setText(Control(kIdEdtErrKs), state.ErrorCount);
    if (changes & kChangeProgress) {
        const HWND bar = Control(kIdPBar);
        ::SendMessageW(bar, PBM_SETRANGE32, 0, state.ProgressMax);
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(state.ProgressPosition), 0);
    }
    if (changes & kChangeStartText) {
        const HWND start = Control(kIdStartBox);
        if (TextOf(start) != state.StartText) setText(start, state.StartText);
    }
    if (changes & kChangePortNumber)
        ::SendMessageW(Control(kIdUDCom), UDM_SETPOS32, 0, state.PortNumber);
    if (changes & kChangeSpeed) {
        const HWND speed = Control(kIdCBSpeed);
        if (::SendMessageW(speed, CB_GETCURSEL, 0, 0) != state.SpeedIndex)
            ::SendMessageW(speed, CB_SETCURSEL, static_cast<WPARAM>(state.SpeedIndex), 0);
        if (TextOf(speed) != state.SpeedText) setText(speed, state.SpeedText);
    }
    if (changes & kChangeDevice) {
        const HWND device = Control(kIdLblDevice);
        devicePresent_ = state.Device.Present;
        setText(device, state.Device.Path);
        std::wstring hint = Utf8ToWide(state.Device.Hint);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(device);
        tool.lpszText = hint.data();
        ::SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
        ::InvalidateRect(device, nullptr, TRUE);
    }
    drawing_ = false;
}

void TMainWindow::ShowError(const TErrorReport& report) {
    std::string text = report.Text;
    if (!report.Detail.empty()) text += "\n" + report.Detail;
    ::MessageBoxW(hwnd_, Utf8ToWide(text).c_str(), Utf8ToWide(texts::kApplicationTitle).c_str(),
                  MB_OK | MB_ICONERROR);
}

INT_PTR CALLBACK TMainWindow::AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        // Texts from the window's own list, pixels as designed (the template
        // gives the controls; its dialog units depend on the font).
        using namespace texts;
        const int dpi = [] {
            const HDC screen = ::GetDC(nullptr);
            const int d = ::GetDeviceCaps(screen, LOGPIXELSY);
            ::ReleaseDC(nullptr, screen);
            return d > 0 ? d : 96;
        }();
        const auto px = [dpi](int v) { return ::MulDiv(v, dpi, 96); };
        ::SetWindowTextW(dialog, Utf8ToWide(kAboutCaption).c_str());
        struct TPlace {
            int Id;
            const char* Text;
            int Left, Top, Width, Height;
        };
        const TPlace places[] = {
            {ZELK_IDC_ABOUT_PANEL, nullptr, 8, 8, 281, 161},
            {ZELK_IDC_ABOUT_ICON, nullptr, 8 + 8, 8 + 8, 65, 57},
            {ZELK_IDC_ABOUT_PRODUCT, kAboutProductName, 8 + 88, 8 + 16, 190, 16},
            {ZELK_IDC_ABOUT_VERSION, kAboutVersion, 8 + 88, 8 + 40, 190, 16},
            {ZELK_IDC_ABOUT_COMMENTS, kAboutComments, 8 + 8, 8 + 104, 70, 16},
            {ZELK_IDC_ABOUT_LINE1, kAboutLine1, 8 + 80, 8 + 104, 200, 16},
            {ZELK_IDC_ABOUT_LINE2, kAboutLine2, 8 + 80, 8 + 120, 200, 16},
            {ZELK_IDC_ABOUT_LICENCE, kAboutLicence, 8 + 8, 8 + 140, 200, 16},
            {IDOK, kAboutOk, 120, 178, 65, 33},
        };
        for (const TPlace& p : places) {
            const HWND control = ::GetDlgItem(dialog, p.Id);
            if (control == nullptr) continue;
            if (p.Text != nullptr) ::SetWindowTextW(control, Utf8ToWide(p.Text).c_str());
            ::SetWindowPos(control, nullptr, px(p.Left), px(p.Top), px(p.Width), px(p.Height),
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        // The client area as designed, centred over the main window.
        RECT frame{0, 0, px(298), px(218)};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        RECT owner{};
        ::GetWindowRect(::GetParent(dialog), &owner);
        ::SetWindowPos(dialog, nullptr, (owner.left + owner.right - width) / 2, (owner.top + owner.bottom - height) / 2,
                       width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void TMainWindow::ShowAbout() {
    ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(ZELK_IDD_ABOUT), hwnd_, &AboutProc, 0);
}

std::optional<std::string> TMainWindow::ChooseFile() {
    const std::wstring filter = DialogFilter(texts::kFileFilter);
    std::vector<wchar_t> name(32768, L'\0');
    std::copy(chosen_.begin(), chosen_.end(), name.begin());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(texts::kFileFilterIndex + 1);  // counted from 1
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
    chosen_ = name.data();
    return WideToUtf8(chosen_);
}

void TMainWindow::ClearChosenFile() { chosen_.clear(); }

void TMainWindow::StartFlashTimer() { ::SetTimer(hwnd_, kFlashTimer, kFlashMs, nullptr); }

void TMainWindow::StopFlashTimer() { ::KillTimer(hwnd_, kFlashTimer); }

int RunMessageLoop(TMainWindow& window) {
    for (;;) {
        const HANDLE calls = window.CallsWaiting();
        if (::MsgWaitForMultipleObjectsEx(1, &calls, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0) {
            window.RunCalls();
            continue;
        }
        MSG msg{};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            const HWND main = window.Handle();
            if (main != nullptr && ::IsDialogMessageW(main, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace zelk::win32
