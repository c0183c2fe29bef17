#include "shared/language.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct LanguageService
{
    QList<QPair<QString, QString>> languages;
    QHash<QString, int> indexByCode;
    // Read on first use: a start in one language parses one dictionary, not ten. Each slot is
    // written once, under its flag, before any thread reads it.
    std::vector<QHash<QString, QString>> dictionaries;
    std::unique_ptr<std::once_flag[]> dictionaryRead;
    std::atomic<int> current{0};
    QString settingsOrganization;
    QString settingsApplication;

    LanguageService()
    {
        languages = {
            {QStringLiteral("en"), QStringLiteral("English")},
            {QStringLiteral("es"), QStringLiteral("Español")},
            {QStringLiteral("fr"), QStringLiteral("Français")},
            {QStringLiteral("pt"), QStringLiteral("Português")},
            {QStringLiteral("ru"), QStringLiteral("Русский")},
            {QStringLiteral("ja"), QStringLiteral("日本語")},
            {QStringLiteral("de"), QStringLiteral("Deutsch")},
            {QStringLiteral("tr"), QStringLiteral("Türkçe")},
            {QStringLiteral("pl"), QStringLiteral("Polski")},
            {QStringLiteral("zh_CN"), QStringLiteral("简体中文")},
        };
        for (int i = 0; i < languages.size(); ++i)
            indexByCode.insert(languages.at(i).first, i);
        dictionaries.resize(size_t(languages.size()));
        dictionaryRead = std::make_unique<std::once_flag[]>(size_t(languages.size()));
        // Until initLanguage or setLanguage picks one, texts stay as written: the command-line
        // tool prints them so, whatever the user chose for the windows.
        current = indexOf(QStringLiteral("zh_CN"));
    }

    static QHash<QString, QString> loadDictionary(const QString &code)
    {
        QHash<QString, QString> dict;
        QFile file(QStringLiteral(":/i18n/%1.json").arg(code));
        if (!file.open(QIODevice::ReadOnly))
            return dict;
        const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
        for (auto it = object.begin(); it != object.end(); ++it)
            dict.insert(it.key(), it.value().isString() ? it.value().toString() : QString());
        return dict;
    }

    int indexOf(const QString &code) const { return indexByCode.value(code, 0); }

    const QHash<QString, QString> &dictionary(int index)
    {
        std::call_once(dictionaryRead[size_t(index)],
                       [this, index] { dictionaries[size_t(index)] = loadDictionary(languages.at(index).first); });
        return dictionaries[size_t(index)];
    }

    std::unique_ptr<QSettings> settings() const
    {
        if (settingsOrganization.isEmpty() && settingsApplication.isEmpty())
            return std::make_unique<QSettings>();
        return std::make_unique<QSettings>(settingsOrganization, settingsApplication);
    }
};

LanguageService &service()
{
    static LanguageService instance;   // thread-safe static initialisation
    return instance;
}

} // namespace

QString translateText(const char *source)
{
    return translateText(QString::fromUtf8(source));
}

QString translateText(const QString &source)
{
    LanguageService &s = service();
    const QHash<QString, QString> &dict = s.dictionary(s.current.load(std::memory_order_relaxed));
    const auto it = dict.constFind(source);
    return it != dict.constEnd() ? it.value() : source;
}

QString languageForLocale(const QString &locale)
{
    // "de_DE.UTF-8@euro" -> language "de", territory "DE"
    const QString name = locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    const QString language = name.section(QLatin1Char('_'), 0, 0).toLower();
    if (language == QLatin1String("zh"))
        return QStringLiteral("zh_CN");   // our one Chinese: better than English for any zh locale
    return service().indexByCode.contains(language) ? language : QStringLiteral("en");
}

namespace {

QString environmentLocale()
{
    for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(var);
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

} // namespace

void loadLanguageSetting()
{
    LanguageService &s = service();
    QString code = s.settings()->value(QStringLiteral("language")).toString();
    if (code.isEmpty())
        code = languageForLocale(environmentLocale());
    s.current = s.indexOf(code);
}

QString environmentLanguage()
{
    return languageForLocale(environmentLocale());
}

void loadEnvironmentLanguage()
{
    LanguageService &s = service();
    s.current = s.indexOf(environmentLanguage());
}

QString translateTextIn(const QString &code, const QString &source)
{
    LanguageService &s = service();
    const QHash<QString, QString> &dict = s.dictionary(s.indexOf(code));
    const auto it = dict.constFind(source);
    return it != dict.constEnd() ? it.value() : source;
}

void setLanguage(const QString &code)
{
    LanguageService &s = service();
    s.current = s.indexOf(code);
    s.settings()->setValue(QStringLiteral("language"), currentLanguageCode());
}

QString fontFamilyForLanguage(const QString &code)
{
    if (code == QLatin1String("zh_CN"))
        return QStringLiteral("Microsoft YaHei UI");
    if (code == QLatin1String("ja"))
        return QStringLiteral("Meiryo");
    return QStringLiteral("Segoe UI");
}

QString currentLanguageCode()
{
    LanguageService &s = service();
    return s.languages.at(s.current.load()).first;
}

QList<QPair<QString, QString>> languageList()
{
    return service().languages;
}

void setSettingsScope(const QString &organization, const QString &application)
{
    LanguageService &s = service();
    s.settingsOrganization = organization;
    s.settingsApplication = application;
}
