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
#include <string_view>
#include <system_error>
#include <vector>

#include "common/wide_text.h"
#include "serial/port_list.h"
#include "ui_win32/resource.h"
#include "window/texts.h"
#include "window/window_design.h"

namespace zelk::win32 {

namespace {

constexpr wchar_t kContainerClass[] = L"ZelkContainer";
using design::TKind;

// The controls' ids follow the design's table.
static_assert(kIdStat1 - kIdPanel1 + 1 == static_cast<int>(design::kControls.size()));

int ControlId(std::string_view name) {
    const design::TControl* c = design::FindControl(design::kControls, name);
    return c == nullptr ? 0 : kIdPanel1 + static_cast<int>(c - design::kControls.data());
}

// The about box's resource ids, by the design's names.
int AboutId(std::string_view name) {
    constexpr std::pair<std::string_view, int> kIds[] = {
        {"Panel1", ZELK_IDC_ABOUT_PANEL},      {"ProgramIcon", ZELK_IDC_ABOUT_ICON},
        {"ProductName", ZELK_IDC_ABOUT_PRODUCT}, {"Version", ZELK_IDC_ABOUT_VERSION},
        {"Comments", ZELK_IDC_ABOUT_COMMENTS}, {"Label1", ZELK_IDC_ABOUT_LINE1},
        {"Label2", ZELK_IDC_ABOUT_LINE2},      {"LblLicence", ZELK_IDC_ABOUT_LICENCE},
        {"OKButton", IDOK},
    };
    for (const auto& [n, id] : kIds)
        if (n == name) return id;
    return 0;
}

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
        if (dpi_ <= 0) dpi_ = design::kDesignDpi;
    }
    boldFont_ = MakeFont(Px(design::kWindowFont.PixelHeight), design::kWindowFont.Bold);
    plainFont_ = MakeFont(Px(design::kPlainFont.PixelHeight), design::kPlainFont.Bold);
    windowBrush_ = ::GetSysColorBrush(COLOR_WINDOW);

    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT frame{0, 0, Px(design::kClientWidth), Px(design::kClientHeight)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT);
    hwnd_ = ::CreateWindowExW(WS_EX_ACCEPTFILES | WS_EX_CONTROLPARENT, kMainWindowClass,
                              Utf8ToWide(texts::kWindowCaption).c_str(), style, Px(design::kWindowLeft), Px(design::kWindowTop),
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

int TMainWindow::Px(int designPixels) const { return ::MulDiv(designPixels, dpi_, design::kDesignDpi); }

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
    tips_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance_,
                              nullptr);
    // Several lines for the device's hint.
    ::SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Px(design::kHintMaxWidth));

    HWND previous = nullptr;
    for (const design::TControl& c : design::kControls) {
        const int id = ControlId(c.Name);
        // A group box is no parent: its controls sit beside it, at its offset.
        // The sheets lie on the window, above the tab control.
        HWND parent = c.Kind == TKind::TabSheet ? hwnd_ : std::string_view(c.Parent) == design::kForm
                                                              ? hwnd_
                                                              : Control(ControlId(c.Parent));
        design::TRect r = c.Rect;
        if (const design::TControl* group = design::FindControl(design::kControls, c.Parent);
            group != nullptr && group->Kind == TKind::GroupBox) {
            parent = Control(ControlId(group->Parent));
            r.Left += group->Rect.Left;
            r.Top += group->Rect.Top;
        }
        const auto make = [&](const wchar_t* cls, const std::string& text, DWORD style, DWORD exStyle = 0) {
            return Make(parent, id, cls, text, style, r.Left, r.Top, r.Width, r.Height, exStyle);
        };
        HWND control = nullptr;
        switch (c.Kind) {
        case TKind::Panel:
        case TKind::TabSheet:
            control = make(kContainerClass, "", WS_CLIPSIBLINGS,
                           WS_EX_CONTROLPARENT | (c.Kind == TKind::Panel ? WS_EX_WINDOWEDGE : 0));
            ::SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ContainerProc));
            if (c.Kind == TKind::TabSheet) {
                std::wstring caption = Utf8ToWide(c.Text);
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = caption.data();
                const HWND tabs = Control(ControlId(c.Parent));
                const LRESULT count = ::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0);
                ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(&item));
                ::SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            }
            break;
        case TKind::Label:
            if (id == kIdLblDevice) {
                control = make(L"STATIC", c.Text, SS_NOTIFY | SS_LEFTNOWORDWRAP | SS_PATHELLIPSIS);
                ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(plainFont_), FALSE);
                Hint(control, "");  // the device's, once known
            } else {
                control = make(L"STATIC", c.Text, 0);
            }
            break;
        case TKind::Edit:
            control = make(L"EDIT", c.Text, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE);
            break;
        case TKind::UpDown:
            control = make(UPDOWN_CLASSW, "", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS);
            ::SendMessageW(control, UDM_SETBUDDY, reinterpret_cast<WPARAM>(previous), 0);
            ::SendMessageW(control, UDM_SETRANGE32, design::kFirstPort, design::kLastPort);
            ::SendMessageW(control, UDM_SETPOS32, 0, design::kFirstPort);
            // Setting the buddy may move the up-down: back where it was designed.
            ::SetWindowPos(control, nullptr, Px(r.Left), Px(r.Top), Px(r.Width), Px(r.Height),
                           SWP_NOZORDER | SWP_NOACTIVATE);
            break;
        case TKind::ComboBox: {
            // The height takes the dropped-down list as well.
            const int rows = std::min(static_cast<int>(c.Items.size()), design::kSpeedRows);
            r.Height += rows * design::kListRowHeight + 2;
            const bool scrolls = static_cast<int>(c.Items.size()) > rows;
            control = make(L"COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_TABSTOP | (scrolls ? WS_VSCROLL : 0));
            for (const char* item : c.Items)
                ::SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
            ::SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Px(design::kComboFieldHeight));
            ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(c.Selected), 0);
            if (id == kIdStartBox) ::SendMessageW(control, CB_LIMITTEXT, design::kStartMaxLength, 0);
            break;
        }
        case TKind::Button:
            control = make(L"BUTTON", c.Text, BS_PUSHBUTTON | WS_TABSTOP);
            break;
        case TKind::TabControl:
            control = make(WC_TABCONTROLW, "", WS_CLIPSIBLINGS | WS_TABSTOP);
            break;
        case TKind::GroupBox:
            control = make(L"BUTTON", c.Text, BS_GROUPBOX);
            break;
        case TKind::ProgressBar:
            control = make(PROGRESS_CLASSW, "", 0);
            ::SendMessageW(control, PBM_SETRANGE32, 0, design::kProgressMaximum);
            break;
        case TKind::StatusBar: {
            // The status bar places itself at the bottom.
            control = Make(parent, id, STATUSCLASSNAMEW, "", 0, 0, 0, 0, 0);
            ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(plainFont_), FALSE);
            std::array<int, design::kPanelWidths.size()> edges{};
            int right = 0;
            for (std::size_t i = 0; i < edges.size(); ++i) {
                right += design::kPanelWidths[i];
                edges[i] = i + 1 < edges.size() ? Px(right) : -1;  // the last takes the rest
            }
            ::SendMessageW(control, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
            break;
        }
        }
        if (*c.Hint != '\0') Hint(control, c.Hint);
        previous = control;
    }

    SelectSheet(0);
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    Layout(client.right, client.bottom);
}

// Anchored as designed; the sheets fill the tab control's page, and the
// status bar keeps to the bottom by itself.
void TMainWindow::Layout(int width, int height) {
    const HWND tabs = ::GetDlgItem(hwnd_, kIdPageControl1);
    if (tabs == nullptr) return;
    for (const design::TControl& c : design::kControls) {
        if (c.Kind == TKind::StatusBar || c.Anchors == design::kAnchorLeftTop) continue;
        const design::TRect r = design::Anchored(c, ::MulDiv(width, design::kDesignDpi, dpi_),
                                                   ::MulDiv(height, design::kDesignDpi, dpi_));
        ::SetWindowPos(Control(ControlId(c.Name)), nullptr, Px(r.Left), Px(r.Top), Px(r.Width), Px(r.Height),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
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
    ::MessageBoxW(hwnd_, Utf8ToWide(ErrorBoxLines(report)).c_str(), Utf8ToWide(texts::kApplicationTitle).c_str(),
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
            return d > 0 ? d : design::kDesignDpi;
        }();
        const auto px = [dpi](int v) { return ::MulDiv(v, dpi, design::kDesignDpi); };
        ::SetWindowTextW(dialog, Utf8ToWide(kAboutCaption).c_str());
        const design::TRect panel = design::FindControl(design::kAboutControls, "Panel1")->Rect;
        for (const design::TControl& c : design::kAboutControls) {
            const HWND control = ::GetDlgItem(dialog, AboutId(c.Name));
            if (control == nullptr) continue;
            if (*c.Text != '\0') ::SetWindowTextW(control, Utf8ToWide(c.Text).c_str());
            // The template places every element in the dialog: the panel's at its offset.
            design::TRect r = c.Rect;
            if (std::string_view(c.Parent) == "Panel1") {
                r.Left += panel.Left;
                r.Top += panel.Top;
            }
            ::SetWindowPos(control, nullptr, px(r.Left), px(r.Top), px(r.Width), px(r.Height),
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        // The client area as designed, centred on the main window.
        RECT frame{0, 0, px(design::kAboutWidth), px(design::kAboutHeight)};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
        RECT owner{};
        ::GetWindowRect(::GetParent(dialog), &owner);
        const design::TRect at =
            design::CentredOn({owner.left, owner.top, owner.right - owner.left, owner.bottom - owner.top},
                              frame.right - frame.left, frame.bottom - frame.top);
        ::SetWindowPos(dialog, nullptr, at.Left, at.Top, at.Width, at.Height, SWP_NOZORDER | SWP_NOACTIVATE);
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

void TMainWindow::StartFlashTimer() {
    flashRunning_ = ::SetTimer(hwnd_, kFlashTimer, design::kFlashMs, nullptr) != 0;
}

void TMainWindow::StopFlashTimer() {
    ::KillTimer(hwnd_, kFlashTimer);
    flashRunning_ = false;
}

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
