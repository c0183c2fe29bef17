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

// Reads the language setting ("language", English when unset or unknown). initLanguage in
// languagefont.h also applies the language's font.
void loadLanguageSetting();
void setLanguage(const QString &code);
QString currentLanguageCode();
QList<QPair<QString, QString>> languageList();   // (code, native name), menu order
void setSettingsScope(const QString &organization, const QString &application);

QString fontFamilyForLanguage(const QString &code);
