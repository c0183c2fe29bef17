#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The interface language of both programs. Every user-visible string is written in Chinese in the
// code and looked up here at run time; placeholders are filled by the caller after translation.
// Before initLanguage or setLanguage, translateText returns the source text.
// translateText may be called from any thread; the other functions belong to the main thread.

QString translateText(const char *source);
QString translateText(const QString &source);

// Reads the language setting ("language"; when unset, the language the locale environment names;
// English when unknown). initLanguage in languagefont.h also applies the language's font.
void loadLanguageSetting();
// The language of the locale environment (LC_ALL, then LC_MESSAGES, then LANG, as POSIX orders
// them): the command-line tool and Brindlehost's terminal messages speak it.
void loadEnvironmentLanguage();
// The language of the locale environment, and a text in a given language whatever the current
// one is (a terminal's messages while the windows speak the chosen language).
QString environmentLanguage();
QString translateTextIn(const QString &code, const QString &source);
// The code of the language a locale name ("de_DE.UTF-8", "pt_BR", "C") names; "en" for none of ours.
QString languageForLocale(const QString &locale);
void setLanguage(const QString &code);
QString currentLanguageCode();
QList<QPair<QString, QString>> languageList();   // (code, native name), menu order
void setSettingsScope(const QString &organization, const QString &application);

QString fontFamilyForLanguage(const QString &code);
