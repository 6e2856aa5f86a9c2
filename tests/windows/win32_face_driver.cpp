// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The contract suite's driver for the Win32 face, in process under Wine:
// buttons pressed with BM_CLICK, typing with the combo boxes' own edits, the
// up-down's arrows clicked with the mouse messages, texts read back with
// WM_GETTEXT, the status bar's colour read off the screen, and each dialog
// box (error, about, open-file) answered from inside its modal loop.
#include <deque>
#include <map>

#include "faces/face_driver.h"
#include "ui_win32/resource.h"
#include "win32_test_support.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

// The open-file dialog's name field: a combo box in the Explorer style, an
// edit in the old one.
constexpr int kDialogNameCombo = 0x47c;  // cmb13
constexpr int kDialogNameEdit = 0x480;   // edt1

int Dpi() {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int Design(int pixels) { return ::MulDiv(pixels, 96, Dpi()); }

design::TRect DesignRect(const RECT& r) {
    return {Design(r.left), Design(r.top), Design(r.right - r.left), Design(r.bottom - r.top)};
}

// Where a window sits in the client area of another.
RECT PlaceIn(HWND window, HWND in) {
    RECT r{};
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(nullptr, in, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TRgb Rgb(COLORREF c) { return {GetRValue(c), GetGValue(c), GetBValue(c)}; }

int AboutId(std::string_view name) {
    const std::map<std::string_view, int> ids = {
        {"Panel1", ZELK_IDC_ABOUT_PANEL},       {"ProgramIcon", ZELK_IDC_ABOUT_ICON},
        {"ProductName", ZELK_IDC_ABOUT_PRODUCT}, {"Version", ZELK_IDC_ABOUT_VERSION},
        {"Comments", ZELK_IDC_ABOUT_COMMENTS},  {"Label1", ZELK_IDC_ABOUT_LINE1},
        {"Label2", ZELK_IDC_ABOUT_LINE2},       {"LblLicence", ZELK_IDC_ABOUT_LICENCE},
        {"OKButton", IDOK},
    };
    const auto found = ids.find(name);
    return found == ids.end() ? 0 : found->second;
}

class TWin32FaceDriver final : public TFaceDriver {
public:
    TWin32FaceDriver()
        : window_(std::make_unique<TMainWindow>(::GetModuleHandleW(nullptr))),
          watch_([this](HWND dialog) { OnDialog(dialog); }) {
        gWindow = window_.get();
        window_->Show(SW_SHOWNORMAL);
        // Let it draw before anything is read off the screen.
        PumpUntil([] { return false; }, 200ms);
    }
    ~TWin32FaceDriver() override {
        gWindow = nullptr;
        window_.reset();
    }
    TWin32FaceDriver(const TWin32FaceDriver&) = delete;
    TWin32FaceDriver& operator=(const TWin32FaceDriver&) = delete;

    std::string Caption() const override { return TextOf(Main()); }
    design::TRect Frame() const override {
        RECT r{};
        ::GetWindowRect(Main(), &r);
        return DesignRect(r);
    }
    int ClientWidth() const override { return ClientRect().Width; }
    int ClientHeight() const override { return ClientRect().Height; }
    design::TFont Font(std::string_view control) const override {
        const auto font = reinterpret_cast<HFONT>(::SendMessageW(Control(control), WM_GETFONT, 0, 0));
        LOGFONTW log{};
        ::GetObjectW(font, sizeof log, &log);
        return {Design(std::abs(log.lfHeight)), log.lfWeight >= FW_BOLD};
    }
    design::TRect Place(std::string_view control) const override {
        const HWND hwnd = Control(control);
        design::TRect r = DesignRect(PlaceIn(hwnd, ::GetParent(hwnd)));
        // A group box is no parent: its controls sit beside it.
        const design::TControl* c = design::FindControl(design::kControls, control);
        if (const design::TControl* group = design::FindControl(design::kControls, c->Parent);
            group != nullptr && group->Kind == design::TKind::GroupBox) {
            const design::TRect at = Place(group->Name);
            r.Left -= at.Left;
            r.Top -= at.Top;
        }
        return r;
    }
    std::string Text(std::string_view control) const override { return TextOf(Control(control)); }
    std::string Hint(std::string_view control) const override {
        std::array<wchar_t, 1024> text{};
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = Main();
        tool.uId = reinterpret_cast<UINT_PTR>(Control(control));
        tool.lpszText = text.data();
        ::SendMessageW(Tips(), TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
        return WideToUtf8(text.data());
    }
    bool Enabled(std::string_view control) const override { return ::IsWindowEnabled(Control(control)) != FALSE; }
    bool ReadOnly(std::string_view control) const override {
        return (::GetWindowLongPtrW(Control(control), GWL_STYLE) & ES_READONLY) != 0;
    }
    bool Visible(std::string_view control) const override { return ::IsWindowVisible(Control(control)) != FALSE; }
    std::vector<std::string> Items(std::string_view combo) const override {
        const HWND box = Control(combo);
        std::vector<std::string> items;
        const auto count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            const auto length = ::SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
            std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
            ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(length));
            items.push_back(WideToUtf8(item));
        }
        return items;
    }
    int Selected(std::string_view combo) const override {
        return static_cast<int>(::SendMessageW(Control(combo), CB_GETCURSEL, 0, 0));
    }
    std::vector<std::string> Tabs() const override {
        const HWND tabs = Control("PageControl1");
        std::vector<std::string> captions;
        const auto count = ::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring caption(64, L'\0');
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption.data();
            item.cchTextMax = static_cast<int>(caption.size());
            ::SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            captions.push_back(WideToUtf8(caption.c_str()));
        }
        return captions;
    }
    int Minimum(std::string_view control) const override { return Range(control).first; }
    int Maximum(std::string_view control) const override { return Range(control).second; }
    int Position(std::string_view control) const override {
        if (control == "UDCom") return static_cast<int>(::SendMessageW(Control(control), UDM_GETPOS32, 0, 0));
        return static_cast<int>(::SendMessageW(Control(control), PBM_GETPOS, 0, 0));
    }
    std::string Panel(int panel) const override { return PanelText(Control("stat1"), panel); }
    // Where the third panel is empty, as drawn.
    TRgb StatusColor() const override { return Rgb(StatusPixel(Control("stat1"))); }
    TRgb NormalColor() const override { return Rgb(::GetSysColor(COLOR_BTNFACE)); }
    bool FlashRunning() const override { return window_->FlashTimerRunning(); }
    void ExpireFlash() override {
        ASSERT_TRUE(FlashRunning());
        ::SendMessageW(Main(), WM_TIMER, kFlashTimer, 0);
    }

    void Click(std::string_view button) override { ::SendMessageW(Control(button), BM_CLICK, 0, 0); }
    void Step(int delta) override {
        const HWND upDown = Control("UDCom");
        RECT r{};
        ::GetClientRect(upDown, &r);
        const LPARAM at = MAKELPARAM(r.right / 2, delta > 0 ? r.bottom / 4 : r.bottom * 3 / 4);
        ::SendMessageW(upDown, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(upDown, WM_LBUTTONUP, 0, at);
    }
    void ArrowKey(int delta) override {
        ::SendMessageW(Control("EdtCom"), WM_KEYDOWN, delta > 0 ? VK_UP : VK_DOWN, 0);
    }
    void Type(std::string_view combo, const std::string& text) override {
        const HWND edit = ::FindWindowExW(Control(combo), nullptr, L"Edit", nullptr);
        ASSERT_NE(edit, nullptr);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        ::SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str()));
    }
    void Choose(std::string_view combo, int item) override {
        const HWND box = Control(combo);
        ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
        ::SendMessageW(::GetParent(box), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(box), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(box));
    }
    void Resize(int clientWidth, int clientHeight) override {
        const int dpi = Dpi();
        RECT frame{0, 0, ::MulDiv(clientWidth, dpi, 96), ::MulDiv(clientHeight, dpi, 96)};
        ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(Main(), GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongPtrW(Main(), GWL_EXSTYLE)));
        ::SetWindowPos(Main(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        EXPECT_TRUE(PumpUntil([&] { return ClientWidth() == clientWidth && ClientHeight() == clientHeight; }, kBound));
    }
    void AnswerFileDialog(std::optional<std::string> path) override { answers_.push_back(std::move(path)); }
    bool LastDialogOpenedEmpty() const override { return openedEmpty_; }
    void Drop(const std::string& path) override { DropFile(Main(), path); }
    std::vector<TShownBox> ErrorBoxes() const override { return boxes_; }
    TAboutView ShowAbout() override {
        about_ = {};
        Click("BtnH");
        return about_;
    }
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) override {
        return PumpUntil(done, bound);
    }
    void Screenshot(const char* name) override { test::Screenshot(name, Main()); }
    // Nothing stands behind any port but COM1 under the test script.
    void PortWithNothingBehind(int) override {}

private:
    HWND Main() const { return window_->Handle(); }
    HWND Control(std::string_view name) const {
        const design::TControl* c = design::FindControl(design::kControls, name);
        if (c == nullptr) throw std::runtime_error("no control " + std::string(name));
        return window_->Control(kIdPanel1 + static_cast<int>(c - design::kControls.data()));
    }
    design::TRect ClientRect() const {
        RECT r{};
        ::GetClientRect(Main(), &r);
        return DesignRect(r);
    }
    std::pair<int, int> Range(std::string_view control) const {
        if (control == "UDCom") {
            int low = 0, high = 0;
            ::SendMessageW(Control(control), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                           reinterpret_cast<LPARAM>(&high));
            return {low, high};
        }
        return {static_cast<int>(::SendMessageW(Control(control), PBM_GETRANGE, TRUE, 0)),
                static_cast<int>(::SendMessageW(Control(control), PBM_GETRANGE, FALSE, 0))};
    }
    // The window's hints: the tooltip control it owns.
    HWND Tips() const {
        struct TSearch {
            HWND Owner;
            HWND Found;
        } search{Main(), nullptr};
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND hwnd, LPARAM lParam) -> BOOL {
                auto* s = reinterpret_cast<TSearch*>(lParam);
                std::array<wchar_t, 64> cls{};
                ::GetClassNameW(hwnd, cls.data(), static_cast<int>(cls.size()));
                if (std::wstring(cls.data()) == TOOLTIPS_CLASSW && ::GetWindow(hwnd, GW_OWNER) == s->Owner) {
                    s->Found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.Found;
    }

    void OnDialog(HWND dialog) {
        const std::string caption = TextOf(dialog);
        if (caption == texts::kApplicationTitle) {
            std::string text = DialogTexts(dialog);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            boxes_.push_back({caption, text});
            PressOk(dialog);
        } else if (caption == texts::kAboutCaption) {
            ReadAbout(dialog);
            test::Screenshot("about", dialog);
            PressOk(dialog);
            about_.Accepted = !::IsWindow(dialog) || !::IsWindowVisible(dialog);
        } else {
            AnswerFileDialog(dialog);
        }
    }

    void ReadAbout(HWND dialog) {
        about_.Caption = TextOf(dialog);
        RECT client{};
        ::GetClientRect(dialog, &client);
        about_.ClientWidth = Design(client.right);
        about_.ClientHeight = Design(client.bottom);
        RECT frame{};
        ::GetWindowRect(dialog, &frame);
        about_.Frame = DesignRect(frame);
        const design::TRect panel =
            DesignRect(PlaceIn(::GetDlgItem(dialog, ZELK_IDC_ABOUT_PANEL), dialog));
        for (const design::TControl& c : design::kAboutControls) {
            const HWND element = ::GetDlgItem(dialog, AboutId(c.Name));
            if (element == nullptr) continue;
            design::TRect r = DesignRect(PlaceIn(element, dialog));
            // The template puts every element on the dialog: the panel's at its offset.
            if (std::string_view(c.Parent) == "Panel1") {
                r.Left -= panel.Left;
                r.Top -= panel.Top;
            }
            about_.Places[c.Name] = r;
            // The icon and the panel hold no text.
            about_.Texts[c.Name] = *c.Text == '\0' ? "" : TextOf(element);
        }
        about_.Modal = ::IsWindowEnabled(Main()) == FALSE;
        const LRESULT defaultId = ::SendMessageW(dialog, DM_GETDEFID, 0, 0);
        about_.OkIsDefault = HIWORD(defaultId) == DC_HASDEFID && LOWORD(defaultId) == IDOK;
        about_.OkHasFocus = ::GetFocus() == ::GetDlgItem(dialog, IDOK);
    }

    void AnswerFileDialog(HWND dialog) {
        HWND name = ::GetDlgItem(dialog, kDialogNameCombo);
        if (name == nullptr) name = ::GetDlgItem(dialog, kDialogNameEdit);
        openedEmpty_ = name != nullptr && TextOf(name).empty();
        if (answers_.empty() || !answers_.front() || name == nullptr) {
            if (answers_.empty()) ADD_FAILURE() << "the file dialog ran unexpectedly";
            if (name == nullptr) ADD_FAILURE() << "the file dialog has no name field";
            if (!answers_.empty()) answers_.pop_front();
            ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
            return;
        }
        ::SetWindowTextW(name, Utf8ToWide(*answers_.front()).c_str());
        answers_.pop_front();
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
    }

    std::unique_ptr<TMainWindow> window_;
    TDialogWatch watch_;
    std::deque<std::optional<std::string>> answers_;
    bool openedEmpty_ = false;
    std::vector<TShownBox> boxes_;
    TAboutView about_;
};

}  // namespace

std::unique_ptr<TFaceDriver> MakeFaceDriver() { return std::make_unique<TWin32FaceDriver>(); }

}  // namespace zelk::test
