#include "languagecode.h"

QString QLanguageToISO639(QLocale::Language language)
{
    if (language == QLocale::C || language == QLocale::AnyLanguage)
        return QStringLiteral("en");
    const QString code = QLocale::languageToCode(language, QLocale::ISO639Part1);
    if (!code.isEmpty())
        return code;
    return QLocale::languageToCode(language);
}
