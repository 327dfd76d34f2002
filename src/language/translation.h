#pragma once

#include <QString>

// The interface language: "ar" (the default at every start) or "en".
extern QString g_lang;

// Translates an English interface text into the current language. Unknown texts, and every text
// while the language is not Arabic, come back unchanged.
QString T(const QString &text);

// Right-to-left is used exactly while the language is Arabic. (Named apart from
// QWidget::isRightToLeft, which a bare call inside a widget would otherwise reach.)
bool languageIsRightToLeft();
