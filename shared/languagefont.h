#pragma once

// The interface language's part that needs widgets: its application font.

// Reads the language setting and applies its font; once at start-up.
void initLanguage();
// Sets the application font for the current language (13 px), telling every widget.
void applyLanguageFont();
