// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Resource ids shared by zelk.rc and the code (plain macros: windres reads them).
#define ZELK_IDI_APP 1
#define ZELK_IDD_ABOUT 100
#define ZELK_IDC_ABOUT_PANEL 101
#define ZELK_IDC_ABOUT_ICON 102
#define ZELK_IDC_ABOUT_PRODUCT 103
#define ZELK_IDC_ABOUT_VERSION 104
#define ZELK_IDC_ABOUT_COMMENTS 105
#define ZELK_IDC_ABOUT_LINE1 106
#define ZELK_IDC_ABOUT_LINE2 107
#define ZELK_IDC_ABOUT_LICENCE 108
