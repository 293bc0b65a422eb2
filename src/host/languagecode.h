#pragma once

#include "hostexport.h"

#include <QLocale>
#include <QString>

// The ISO 639 code of a language ("en", "de", "zh"; a three-letter code only
// where the language has no two-letter one), used to name translation files.
// The "C" and unspecified languages give "en", the suite's source language.
BWCHOST_EXPORT QString QLanguageToISO639(QLocale::Language language);
