#pragma once

// The two application-wide style sheets. They share one list of selectors and differ in colours;
// the widget-local style texts (views/widgetstyles.h) are the same in both and stay untouched.
extern const char DarkStyleSheet[];
extern const char LightStyleSheet[];

#include <QString>

// The sheets draw the sidebar's edges for a left-to-right layout (the tree line and the marker of
// the active filter on the left). Qt mirrors layouts and text alignment but not borders, so while
// the layout is right-to-left the sidebar carries these overrides of its own.
QString sidebarMirrorSheet(bool dark);
