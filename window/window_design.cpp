// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "window/window_design.h"

#include <algorithm>

namespace zelk::design {

const TControl* FindControl(std::span<const TControl> table, std::string_view name) {
    for (const TControl& c : table)
        if (name == c.Name) return &c;
    return nullptr;
}

TRect Anchored(const TControl& control, int width, int height) {
    TRect r = control.Rect;
    const int dw = width - kClientWidth;
    const int dh = height - kClientHeight;
    if (control.Anchors & kAnchorRight) {
        if (control.Anchors & kAnchorLeft)
            r.Width = std::max(0, r.Width + dw);
        else
            r.Left += dw;
    }
    if (control.Anchors & kAnchorBottom) {
        if (control.Anchors & kAnchorTop)
            r.Height = std::max(0, r.Height + dh);
        else
            r.Top += dh;
    }
    return r;
}

TRect CentredOn(const TRect& owner, int width, int height) {
    return {owner.Left + (owner.Width - width) / 2, owner.Top + (owner.Height - height) / 2, width, height};
}

}  // namespace zelk::design
