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

void initLanguage();
void setLanguage(const QString &code);
void applyLanguageFont();
QString currentLanguageCode();
QList<QPair<QString, QString>> languageList();   // (code, native name), menu order
void setSettingsScope(const QString &organization, const QString &application);

QString fontFamilyForLanguage(const QString &code);
