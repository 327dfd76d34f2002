#pragma once

// Style texts set on single widgets. They are the same in both themes, and a theme switch, which
// only replaces the application sheet, leaves them in place.

inline constexpr char SelectedCardStyle[] =
    "#TaskCard { background-color: rgba(56, 189, 248, 0.15); border: 1px solid #38bdf8; }";

inline constexpr char DialogButtonStyle[] =
    "QPushButton { background-color: #0284c7; border: none; border-radius: 6px; padding: 8px 16px; "
    "color: #ffffff; font-weight: bold; min-width: 80px; } "
    "QPushButton:hover { background-color: #0369a1; } "
    "QPushButton:disabled { background-color: #475569; color: #94a3b8; }";

inline constexpr char MessageBoxButtonStyle[] =
    "QPushButton { background-color: #0284c7; border: none; border-radius: 6px; padding: 8px 16px; "
    "color: #ffffff; font-weight: bold; min-width: 100px; margin: 5px; } "
    "QPushButton:hover { background-color: #0369a1; }";

inline constexpr char ErrorTextStyle[] = "color: #ef4444; font-weight: bold;";
inline constexpr char SuccessTextStyle[] = "color: #10b981; font-weight: bold;";
