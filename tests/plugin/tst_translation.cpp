// Every text of the module (or of the host window, built from the same
// source), as the build's lupdate run extracts it from the sources, has a
// finished German translation.

#include <QtTest>

namespace {

// "context|source" of every message; with bFinished only the translated ones.
QSet<QString> messages(const QString& path, bool bFinished)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QSet<QString> found;
    QString context, source;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            const bool finished = xml.attributes().value("type").isEmpty();
            if (!bFinished || (finished && !xml.readElementText().isEmpty()))
                found.insert(context + '|' + source);
        }
    }
    return found;
}

} // namespace

class TestTranslation : public QObject
{
    Q_OBJECT
private slots:
    void germanIsComplete()
    {
        const QSet<QString> extracted = messages(QStringLiteral(EXTRACTED_TS), false);
        QVERIFY(extracted.contains(QStringLiteral(SAMPLE_MESSAGE)));
        const QSet<QString> missing = extracted - messages(QStringLiteral(GERMAN_TS), true);
        QVERIFY2(missing.isEmpty(), qPrintable(QStringList(missing.values()).join('\n')));
    }
};

QTEST_MAIN(TestTranslation)
#include "tst_translation.moc"
