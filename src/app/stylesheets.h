#pragma once

// The two application-wide style sheets. They share one list of selectors and differ in colours;
// the widget-local style texts (views/widgetstyles.h) are the same in both and stay untouched.
extern const char DarkStyleSheet[];
extern const char LightStyleSheet[];
