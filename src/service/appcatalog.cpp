#include "appcatalog.h"

#include "trafficmodel.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

namespace {

using Kind = SimulatedApp::Kind;

struct KindTraits
{
    Kind kind;
    int share; // how common the kind is, out of the sum of all shares
    const char* products[3];
    int meanRunSeconds;
    int meanIdleSeconds;
    int maxInstances;
};

const KindTraits kinds[] = {
    {Kind::Browser, 10, {"Browser", "Web", "Surf"}, 900, 300, 3},
    {Kind::Video, 8, {"Video Player", "Media Center", "Stream TV"}, 1200, 900, 1},
    {Kind::Music, 8, {"Music", "Radio", "Jukebox"}, 1800, 1200, 1},
    {Kind::Downloader, 6, {"Downloader", "File Fetch", "Transfer"}, 600, 900, 1},
    {Kind::CloudSync, 8, {"Cloud Sync", "Backup", "Drive"}, 0, 120, 1},
    {Kind::Chat, 10, {"Messenger", "Voice Chat", "Talk"}, 0, 300, 1},
    {Kind::Game, 8, {"Arena", "Online Chess", "Racer"}, 1500, 2400, 1},
    {Kind::Mail, 8, {"Mail", "Mail & Calendar", "Post"}, 0, 600, 1},
    {Kind::Updater, 10, {"Update Service", "Updater", "Patcher"}, 180, 1800, 1},
    {Kind::Background, 12, {"Time Sync", "License Service", "Helper"}, 0, 60, 1},
};

const char* const brands[] = {
    "Bluefin",    "Orvane",    "Telmaro",  "Brisklet",  "Calvex",    "Dunmore",   "Fennic",
    "Glasswing",  "Hollin",    "Istrel",   "Jovik",     "Kelpie",    "Lumora",    "Marrow",
    "Nimbla",     "Ostrander", "Pellucid", "Quarrel",   "Rookery",   "Saltmarsh", "Tamsin",
    "Umberly",    "Vantle",    "Wicklow",  "Yarrow",    "Zephyrine", "Ashgrove",  "Birchlight",
    "Copperleaf", "Driftwood", "Emberly",  "Foxglove",  "Greywater", "Hartwell",  "Ironbark",
    "Larkspur",   "Moorland",  "Nettle",   "Oakhollow", "Pinecrest",
};

const char* const companySuffixes[] = {"Software", "Labs", "Systems", "Media", "Studio", "Works"};

template <class T, std::size_t N> constexpr int countOf(const T (&)[N])
{
    return int(N);
}

const KindTraits& pickKind(QRandomGenerator& rng, int index)
{
    // The first applications cover every kind once so that even a small
    // machine shows every pattern; the rest follow the shares.
    if (index < countOf(kinds))
        return kinds[index];
    int total = 0;
    for (const KindTraits& k : kinds)
        total += k.share;
    int roll = int(rng.bounded(total));
    for (const KindTraits& k : kinds) {
        if (roll < k.share)
            return k;
        roll -= k.share;
    }
    return kinds[0];
}

QString exeName(QString name)
{
    name.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")));
    return name.toLower() + QStringLiteral(".exe");
}

} // namespace

QList<SimulatedApp> AppCatalog::generate(quint32 seed, int count)
{
    QRandomGenerator rng(seed);
    QList<SimulatedApp> apps;
    QSet<QString> names;
    quint32 nextPid = 1000 + 4 * rng.bounded(500);
    for (int i = 0; i < count; ++i) {
        const KindTraits& traits = pickKind(rng, i);
        const QString brand = QLatin1String(brands[rng.bounded(countOf(brands))]);
        const QString product = QLatin1String(traits.products[rng.bounded(3)]);
        QString name = brand + QLatin1Char(' ') + product;
        for (int n = 2; names.contains(name); ++n)
            name = brand + QLatin1Char(' ') + product + QStringLiteral(" %1").arg(n);
        names.insert(name);

        SimulatedApp app;
        app.kind = traits.kind;
        app.name = name;
        app.company = brand + QLatin1Char(' ') +
                      QLatin1String(companySuffixes[rng.bounded(countOf(companySuffixes))]);
        const QString folder =
            traits.kind == Kind::Background
                ? QStringLiteral("C:\\Program Files\\Common Files\\") + brand
                : QStringLiteral("C:\\Program Files\\") + app.company + QLatin1Char('\\') + name;
        const QString exe = exeName(name);
        app.path = folder + QLatin1Char('\\') + exe;
        app.id = idForPath(app.path);
        app.version = QStringLiteral("%1.%2.%3.%4")
                          .arg(1 + rng.bounded(12))
                          .arg(rng.bounded(10))
                          .arg(rng.bounded(20))
                          .arg(100 + rng.bounded(9000));
        app.fileSize = 150000 + rng.bounded(90000000);
        app.colour = QColor::fromHsv(int(rng.bounded(360)), 150 + int(rng.bounded(80)),
                                     150 + int(rng.bounded(80)));
        app.gid = 100 + i;
        app.meanRunSeconds = traits.meanRunSeconds;
        app.meanIdleSeconds = traits.meanIdleSeconds;
        app.maxInstances = traits.maxInstances;
        app.phase = rng.generateDouble() * 6.283;

        // About half of the ordinary programs run at start; services nearly always do.
        const bool service = traits.meanRunSeconds == 0;
        if (rng.bounded(100) < (service ? 90 : 45)) {
            const int instances = 1 + int(rng.bounded(traits.maxInstances));
            for (int k = 0; k < instances; ++k) {
                app.pids.append(nextPid);
                nextPid += 4 * (1 + rng.bounded(64));
            }
            app.secondsToChange =
                service ? 0 : TrafficModel::drawSeconds(rng, traits.meanRunSeconds);
        } else {
            app.secondsToChange = TrafficModel::drawSeconds(rng, traits.meanIdleSeconds);
        }
        apps.append(app);
    }
    return apps;
}

QString AppCatalog::idForPath(const QString& path)
{
    const QByteArray digest =
        QCryptographicHash::hash(path.toLower().toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.left(8).toHex());
}
