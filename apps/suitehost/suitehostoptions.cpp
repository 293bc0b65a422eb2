#include "suitehostoptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

bool SuiteHostOptions::parse(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    const QCommandLineOption pluginOption(QStringLiteral("plugin"), QString(),
                                          QStringLiteral("PATH"));
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("N"));
    const QCommandLineOption shotOption(QStringLiteral("screenshot"), QString(),
                                        QStringLiteral("FILE"));
    const QCommandLineOption langOption(QStringLiteral("lang"), QString(), QStringLiteral("CODE"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({pluginOption, portOption, shotOption, langOption, helpOption});
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return false;
    }
    help = parser.isSet(helpOption);
    // Paths are taken from where the user stands: the host later works in its
    // own folder, where the module's images lie.
    if (parser.isSet(pluginOption))
        pluginPath = QFileInfo(parser.value(pluginOption)).absoluteFilePath();
    if (parser.isSet(shotOption))
        screenshotPath = QFileInfo(parser.value(shotOption)).absoluteFilePath();
    if (parser.isSet(portOption)) {
        bool ok = false;
        const uint value = parser.value(portOption).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            *error = QStringLiteral("--port wants a number from 1 to 65535, not \"%1\"")
                         .arg(parser.value(portOption));
            return false;
        }
        port = quint16(value);
    }
    if (parser.isSet(langOption)) {
        language = parser.value(langOption);
        if (QLocale(language).language() == QLocale::C && language != QLatin1String("C")) {
            *error = QStringLiteral("--lang wants a language code such as en or de, not \"%1\"")
                         .arg(language);
            return false;
        }
    }
    return true;
}

QString SuiteHostOptions::resolvedPluginPath(const QString& strAppDir) const
{
    if (!pluginPath.isEmpty())
        return pluginPath;
    const QDir dir(strAppDir);
    for (const QString& candidate : {QStringLiteral("../lib/libmodapplications.so"),
                                     QStringLiteral("libmodapplications.so")}) {
        if (QFileInfo::exists(dir.filePath(candidate)))
            return QDir::cleanPath(dir.filePath(candidate));
    }
    return QDir::cleanPath(dir.filePath(QStringLiteral("../lib/libmodapplications.so")));
}

QString SuiteHostOptions::usage()
{
    return QStringLiteral(
        "usage: suitehost [--plugin PATH] [--port N] [--screenshot FILE] [--lang CODE]\n"
        "  --plugin PATH      the module file to load (default: the one built with suitehost)\n"
        "  --port N           the service's port on 127.0.0.1 (default: $BWC_PORT or 7789)\n"
        "  --screenshot FILE  write the window as PNG once the list shows its applications,\n"
        "                     then quit (exit code 1 when none appeared within 60 s); each\n"
        "                     panel goes beside it as FILE-main.png, -features, -overview\n"
        "  --lang CODE        the language of the window and the module (en, de, ...);\n"
        "                     without it, the system's\n");
}
