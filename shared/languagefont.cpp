#include "shared/languagefont.h"

#include "shared/language.h"

#include <QApplication>
#include <QFont>

void initLanguage()
{
    loadLanguageSetting();
    applyLanguageFont();
}

void applyLanguageFont()
{
    QFont font(fontFamilyForLanguage(currentLanguageCode()));
    font.setPixelSize(13);
    QApplication::setFont(font);
}
