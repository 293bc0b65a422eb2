#include "bandwidthservice.h"
#include "commands.h"
#include "framecodec.h"
#include "replybuilder.h"
#include "simulatedbackend.h"
#include "statefile.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Ints = QList<int>;
constexpr int Ok = BCS_SUCCESS, Invalid = BCS_INVALID;

namespace {

// A service over a simulated machine, with every command it emits collected.
class Fixture
{
public:
    explicit Fixture(int apps = 30, bool unwritable = false)
        : backend({9, apps, false}),
          file(unwritable ? "/dev/null/s.json" : dir.filePath("s.json")), // no folder in a file
          service(&backend, ServiceState(), &file)
    {
        QObject::connect(&service, &BandwidthService::commandReady,
                         [this](const BaseCommandPtr& c) { out.append(c); });
    }

    // Gives the reply (null unless of the same type and sequence); broadcasts stay in out.
    template <class T> T* ask(T* request)
    {
        replies.append(BaseCommandPtr(request));
        request->SetSequence(++sequence);
        out.clear();
        service.handleCommand(replies.last());
        if (out.isEmpty() || out.first()->GetSequence() != sequence)
            return nullptr;
        replies.append(out.takeFirst());
        return command_cast<T>(replies.last());
    }
    template <class T> int status(T* request)
    {
        const T* reply = ask(request);
        return reply ? reply->GetStatus() : -1;
    }
    int set(const QString& id, const Ints& v) // up, down, priority, highest
    {
        BWCEntryPtr entry(new BWCEntry);
        entry->id = id;
        entry->uploadMax = v[0];
        entry->downloadMax = v[1];
        entry->priority = v.value(2, -2);
        entry->highest = v.value(3);
        auto* request = new BCI_BWCSetAppSettings;
        request->setEntry(entry);
        return status(request);
    }
    int defaults(const Ints& v) // up, down, priority
    {
        auto* request = new BCI_BWCSetDefaults;
        request->setDefaultUploadMax(v[0]);
        request->setDefaultDownloadMax(v[1]);
        request->setDefaultPriority(v[2]);
        return status(request);
    }
    int globals(const Ints& v) // up, down
    {
        auto* request = new BCI_BWCSetGlobals;
        request->setGlobalUploadMax(v[0]);
        request->setGlobalDownloadMax(v[1]);
        return status(request);
    }
    QSet<QString> listed()
    {
        QSet<QString> ids;
        for (const BWCEntryPtr& entry : ask(new BCI_BWCEnumApps)->apps())
            ids.insert(entry->id);
        return ids;
    }
    // Stops every application but the given ones, which want the given rates.
    void only(const QStringList& ids, quint32 up, quint32 down)
    {
        for (const Backend::App& app : backend.applications())
            backend.script(app.id, ids.contains(app.id) ? 1 : 0, up, down);
        out.clear();
    }
    QString id(int i) const { return backend.applications().at(i).id; }
    ServiceState onDisk() const
    {
        ServiceState state;
        QString message;
        file.load(&state, &message);
        return state;
    }

    QTemporaryDir dir;
    SimulatedBackend backend;
    StateFile file;
    BandwidthService service;
    QList<BaseCommandPtr> out, replies;
    quint32 sequence = 100;
};

} // namespace

class TestBandwidthService : public QObject
{
    Q_OBJECT
private slots:
    void everyRequestIsAnswered_data();
    void everyRequestIsAnswered();
    void rules_data();
    void rules();
    void changesAreSavedAnsweredAndAnnounced();
    void enumerationSplitsAtFrameLimit();
    void totalsInPages_data();
    void totalsInPages();
    void announcements();
    void leftoverTemporaryFiles();
    void processInfo();
    void stateFileRejects_data();
    void stateFileRejects();
    void stateFileKeepsToItsFolder_data();
    void stateFileKeepsToItsFolder();
};

void TestBandwidthService::everyRequestIsAnswered_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    const auto rows = [](int status, std::initializer_list<quint32> types) {
        for (quint32 type : types)
            QTest::newRow(BaseCommand::GetName(int(type))) << int(type) << status;
    };
    rows(Ok, {BCI_BWCGetGlobals::TypeId, BCI_BWCGetDefaults::TypeId, BCI_BWCStart::TypeId,
              BCI_BWCStop::TypeId, BCI_BWCEnumApps::TypeId, BCI_BWCResetAll::TypeId,
              BCI_BWCStats::TypeId, BCI_EnumDevices::TypeId, BCI_BWCAppTotals::TypeId,
              BCI_BWCResetTotals::TypeId});
    // Default payloads: invalid values, no such application, no such file.
    rows(Invalid, {BCI_BWCSetGlobals::TypeId, BCI_BWCSetDefaults::TypeId,
                   BCI_BWCSetAppSettings::TypeId, BCI_BWCGetAppSettings::TypeId,
                   BCI_BWCRemoveAppSettings::TypeId, BCI_GetProcessInfo::TypeId});
    rows(BCS_UNSUPPORTED,
         {BCI_GetVersions::TypeId, BCI_GetMTU::TypeId, BCI_BWCDoSpeedTest::TypeId});
}

void TestBandwidthService::everyRequestIsAnswered()
{
    // Each request with its default payload, as a client's freshly decoded frame.
    QFETCH(int, type);
    QFETCH(int, status);
    Fixture f;
    BaseCommandPtr request = BaseCommand::GetCmd(type);
    QByteArray frame;
    qint64 used = 0;
    if (FrameCodec::encode(request.data(), &frame) == 0) // a null record cannot be written
        QCOMPARE(FrameCodec::decode(frame, &request, &used), 0);
    request->SetSequence(4242);
    const QUuid session = QUuid::createUuid();
    request->SetUuid(session);
    f.service.handleCommand(request);
    QVERIFY(!f.out.isEmpty());
    const BaseCommandPtr reply = f.out.first();
    QCOMPARE(int(reply->GetType()), type);
    QCOMPARE(reply->GetSequence(), 4242u);
    QCOMPARE(reply->GetUuid(), session);
    QCOMPARE(reply->GetStatus(), status);
    QCOMPARE(FrameCodec::encode(reply.data(), &frame), 0);
    QVERIFY(frame.size() <= int(BaseCommand::MaxFrameLength));
    for (const BaseCommandPtr& c : f.out.mid(1))
        QVERIFY(c->HasTypeBits(BWC_BROADCAST_BITS));
    // A notification from a client is not a request: no answer.
    f.out.clear();
    f.service.handleCommand(BaseCommandPtr(new BCI_BWCGlobalsChanged));
    f.service.handleCommand(BaseCommandPtr(new BCI_DevicesChanged));
    QVERIFY(f.out.isEmpty());
}

void TestBandwidthService::rules_data()
{
    // Two running applications A and B, each wanting 2000000 up, 8000000 down
    // (bytes/s); the link has 2500000 and 12500000, the factory maxima
    // 1250000 and 6250000. A refused change leaves everything as it was.
    QTest::addColumn<Ints>("a"); // up, down, priority, highest
    QTest::addColumn<Ints>("b");
    QTest::addColumn<Ints>("defaults"); // up, down, priority
    QTest::addColumn<Ints>("globals");  // up, down
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("status"); // of each change
    QTest::addColumn<Ints>("rates"); // A sent, A received, B sent, B received
    const auto row = [](const char* name, const Ints& a, const Ints& b, const Ints& defaults,
                        const Ints& globals, bool enabled, int status, const Ints& rates) {
        QTest::newRow(name) << a << b << defaults << globals << enabled << status << rates;
    };
    const Ints even{625000, 3125000, 625000, 3125000};
    row("factory maxima, even split", {}, {}, {}, {}, true, Ok, even);
    row("a cap frees room", {1234, 5678}, {}, {}, {}, true, Ok, {1234, 5678, 1248766, 6244322});
    row("either limit at 0 blocks", {0, -2}, {}, {}, {}, true, Ok, {0, 0, 1250000, 6250000});
    row("a blocked default", {}, {}, {-1, 0, 2}, {}, true, Ok, {0, 0, 0, 0});
    row("own limits lift it", {-1, 50000}, {}, {-1, 0, 2}, {}, true, Ok, {1250000, 50000, 0, 0});
    row("highest 8 : normal 2", {-2, -2, 1, 1}, {}, {}, {}, true, Ok,
        {1000000, 5000000, 250000, 1250000});
    row("high 4 : low 1", {-2, -2, 1}, {-2, -2, 3}, {}, {}, true, Ok,
        {1000000, 5000000, 250000, 1250000});
    row("a global maximum, or only the link", {}, {}, {}, {100001, -1}, true, Ok,
        {50001, 6250000, 50000, 6250000}); // the odd unit is not lost
    row("disabled enforces nothing", {0, 0}, {}, {}, {}, false, Ok,
        {1250000, 6250000, 1250000, 6250000});
    row("app upload -3", {-3, -1}, {}, {}, {}, true, Invalid, even);
    row("app priority 0", {-1, -1, 0}, {}, {}, {}, true, Invalid, even);
    row("app priority 4", {-1, -1, 4}, {}, {}, {}, true, Invalid, even);
    row("default limit -2", {}, {}, {-2, -1, 2}, {}, true, Invalid, even);
    row("default priority 0", {}, {}, {-1, -1, 0}, {}, true, Invalid, even);
    row("global of 0", {}, {}, {}, {0, 1000}, true, Invalid, even);
    row("global of -5", {}, {}, {}, {1000, -5}, true, Invalid, even);
    row("unwritable: block", {0, 0}, {}, {}, {}, true, BCS_WRITE_FAILED, even);
    row("unwritable: stop", {}, {}, {}, {}, false, BCS_WRITE_FAILED, even);
}

void TestBandwidthService::rules()
{
    QFETCH(Ints, a);
    QFETCH(Ints, b);
    QFETCH(Ints, defaults);
    QFETCH(Ints, globals);
    QFETCH(bool, enabled);
    QFETCH(int, status);
    QFETCH(Ints, rates);
    Fixture f(30, status == BCS_WRITE_FAILED);
    const QStringList ids{f.id(0), f.id(1)};
    f.only(ids, 2000000, 8000000);
    QVERIFY(defaults.isEmpty() || f.defaults(defaults) == status);
    QVERIFY(globals.isEmpty() || f.globals(globals) == status);
    QVERIFY(a.isEmpty() || f.set(ids[0], a) == status);
    QVERIFY(b.isEmpty() || f.set(ids[1], b) == status);
    QVERIFY(enabled || f.status(new BCI_BWCStop) == status);
    if (status != Ok) { // no broadcast, nothing kept, nothing written
        QVERIFY(f.out.isEmpty() && f.service.state() == ServiceState());
        QVERIFY(!QFile::exists(f.file.path()));
    }
    QHash<QString, BWCStatEntryPtr> lines; // the total under the empty id
    for (const BWCStatEntryPtr& line : f.ask(new BCI_BWCStats)->stats())
        lines.insert(line->isTotal ? QString() : line->id, line);
    QCOMPARE(int(lines.value(QString())->sentRate), rates[0] + rates[2]); // the total
    QCOMPARE(int(lines.value(QString())->receivedRate), rates[1] + rates[3]);
    Ints got;
    for (const QString& id : ids)
        got << int(lines.value(id)->sentRate) << int(lines.value(id)->receivedRate);
    QCOMPARE(got, rates);
}

void TestBandwidthService::changesAreSavedAnsweredAndAnnounced()
{
    // Each change is on disk when its reply leaves; the globals are announced
    // when they change, and after any reset (the module waits for that one).
    Fixture f;
    ServiceState atReply;
    QObject::connect(&f.service, &BandwidthService::commandReady, [&](const BaseCommandPtr& c) {
        if (!c->HasTypeBits(BWC_BROADCAST_BITS))
            atReply = f.onDisk();
    });
    const auto announced = [&]() -> BCI_BWCGlobalsChanged* {
        auto* changed =
            f.out.size() == 1 ? command_cast<BCI_BWCGlobalsChanged>(f.out.first()) : nullptr;
        return changed && changed->GetStatus() == Ok ? changed : nullptr;
    };
    f.status(new BCI_BWCStart); // already on
    QVERIFY(f.out.isEmpty());
    QCOMPARE(f.set(f.id(1), {4321, -1, 3}), Ok);
    QVERIFY(f.out.isEmpty() && atReply.settingsFor(f.id(1)).uploadMax == 4321);
    f.defaults({0, 0, 1});
    QVERIFY(atReply == f.service.state() && atReply.defaultPriority == 1);
    QCOMPARE(f.status(new BCI_BWCResetAll), Ok); // the globals were factory already
    QVERIFY(announced() && announced()->enabled());
    QVERIFY(f.service.state() == ServiceState() && atReply == ServiceState());
    for (const BWCEntryPtr& entry : f.ask(new BCI_BWCEnumApps)->apps())
        QVERIFY(entry->uploadMax == -2 && entry->priority == -2);
    f.status(new BCI_BWCStop);
    QVERIFY(announced() && !announced()->enabled() && !atReply.enabled);
    f.globals({5000, ServiceState::FactoryGlobalDownload});
    QVERIFY(announced() && announced()->globalUploadMax() == 5000);
    QCOMPARE(atReply.globalUploadMax, 5000);
    QCOMPARE(f.status(new BCI_BWCResetAll), Ok);
    QVERIFY(f.service.state() == ServiceState() && atReply == ServiceState());
}

void TestBandwidthService::enumerationSplitsAtFrameLimit()
{
    Fixture f(1500);
    const QSet<QString> inReply = f.listed();
    QByteArray frame;
    QCOMPARE(FrameCodec::encode(f.replies.last().data(), &frame), 0);
    QVERIFY(frame.size() <= int(BaseCommand::MaxFrameLength));
    // The rest follows as announcements; the reply is as full as it can be.
    QSet<QString> ids = inReply;
    for (const BaseCommandPtr& c : std::as_const(f.out)) {
        auto* added = command_cast<BCI_BWCAppAdded>(c);
        QVERIFY(added);
        QVERIFY(ids.size() > inReply.size() ||
                frame.size() + ReplyBuilder::encodedSize(added->entry()) >
                    int(BaseCommand::MaxFrameLength));
        ids.insert(added->entry()->id);
    }
    QVERIFY(inReply.size() < 1500);
    QCOMPARE(ids.size(), 1500);
}

void TestBandwidthService::totalsInPages_data()
{
    QTest::addColumn<int>("apps");
    QTest::addColumn<bool>("onePage");
    QTest::newRow("30 in one reply") << 30 << true;
    QTest::newRow("3000 in pages") << 3000 << false;
}

// Pages of applications with names and totals: every listed application
// once, each frame within the limit, the names of their descriptions, the
// totals the accounting counted and the machine's sum.
void TestBandwidthService::totalsInPages()
{
    QFETCH(int, apps);
    QFETCH(bool, onePage);
    Fixture f(apps);
    f.backend.advance(3000);
    const QString hidden = f.id(1);
    f.backend.script(hidden, 0, 0, 0);
    auto* remove = new BCI_BWCRemoveAppSettings;
    remove->setEntry(BWCEntryPtr(new BWCEntry));
    remove->entry()->id = hidden;
    QCOMPARE(f.status(remove), Ok);
    f.backend.advance(1000);

    QHash<QString, BWCTotalsEntryPtr> seen;
    quint32 first = 0;
    int asked = 0;
    quint64 machineSent = 0;
    qint64 lastFrame = 0;
    do {
        auto* request = new BCI_BWCAppTotals;
        request->setFirst(first);
        auto* page = f.ask(request);
        QVERIFY(page && page->GetStatus() == Ok);
        QByteArray frame;
        QCOMPARE(FrameCodec::encode(page, &frame), 0);
        QVERIFY(frame.size() <= int(BaseCommand::MaxFrameLength));
        // A page is as full as it can be: the next one would not have fitted.
        QVERIFY(asked == 0 || lastFrame + ReplyBuilder::encodedSize(page->apps().value(0)) >
                                  qint64(BaseCommand::MaxFrameLength));
        lastFrame = frame.size();
        for (const BWCTotalsEntryPtr& record : page->apps()) {
            QVERIFY(!seen.contains(record->entry->id));
            seen.insert(record->entry->id, record);
        }
        QVERIFY(page->next() == 0 || page->next() > first);
        first = page->next();
        machineSent = page->sent();
        QVERIFY(++asked <= apps);
    } while (first != 0);
    QCOMPARE(asked == 1, onePage);
    QCOMPARE(seen.size(), apps - 1);
    QVERIFY(!seen.contains(hidden));

    quint64 sent = f.backend.accounting().total(hidden).sent;
    for (const Backend::App& app : f.backend.applications()) {
        const BWCTotalsEntryPtr record = seen.value(app.id);
        if (app.id == hidden)
            continue;
        QVERIFY(record);
        Process process;
        QVERIFY(f.backend.processInfo(app.path, &process));
        QCOMPARE(record->name, process.description);
        QCOMPARE(record->entry->path, app.path);
        QCOMPARE(record->sent, f.backend.accounting().total(app.id).sent);
        QCOMPARE(record->sentSinceReset, record->sent);
        sent += record->sent;
    }
    QVERIFY(sent > 0);
    QCOMPARE(machineSent, sent);

    // A reset starts the totals since reset again; those since the start stay.
    QCOMPARE(f.status(new BCI_BWCResetTotals), Ok);
    const QString some = seen.constBegin().key();
    QCOMPARE(f.backend.accounting().sinceReset(some), AppAccounting::Bytes());
    QCOMPARE(f.backend.accounting().total(some).sent, seen.value(some)->sent);
    // Asking past the end is an empty, complete page.
    auto* past = new BCI_BWCAppTotals;
    past->setFirst(quint32(apps) + 10);
    auto* reply = f.ask(past);
    QVERIFY(reply && reply->apps().isEmpty() && reply->next() == 0);
}

void TestBandwidthService::announcements()
{
    Fixture f;
    const QString id = f.id(5);
    f.only({}, 0, 0);
    f.backend.script(id, 2, 10, 10);
    QCOMPARE(f.out.size(), 1);
    auto* added = command_cast<BCI_BWCAppAdded>(f.out.first());
    QVERIFY(added && added->entry()->id == id && added->entry()->idList.size() == 2);
    f.out.clear();
    f.backend.script(id, 0, 0, 0);
    QCOMPARE(f.out.size(), 1);
    auto* removed = command_cast<BCI_BWCAppRemoved>(f.out.first());
    QVERIFY(removed && removed->entry()->idList.isEmpty());

    // Removing a stopped application's settings hides it until it runs again.
    QCOMPARE(f.set(id, {0, 0}), Ok);
    auto* remove = new BCI_BWCRemoveAppSettings;
    remove->setEntry(BWCEntryPtr(new BWCEntry));
    remove->entry()->path = f.backend.applications().at(5).path.toUpper(); // found by path too
    QCOMPARE(f.status(remove), Ok);
    QVERIFY(!f.service.state().apps.contains(id));
    QVERIFY(!f.listed().contains(id));
    // It stays hidden across a restart.
    QVERIFY(f.onDisk().hidden.contains(id));
    {
        BandwidthService restarted(&f.backend, f.onDisk(), nullptr);
        QList<BaseCommandPtr> listing;
        QObject::connect(&restarted, &BandwidthService::commandReady,
                         [&](const BaseCommandPtr& c) { listing.append(c); });
        restarted.handleCommand(BaseCommandPtr(new BCI_BWCEnumApps));
        QVERIFY(!listing.isEmpty());
        for (const BWCEntryPtr& entry : command_cast<BCI_BWCEnumApps>(listing.first())->apps())
            QVERIFY(entry->id != id);
    }
    f.backend.script(id, 0, 0, 0); // still stopped: nothing to announce
    f.backend.script(id, 1, 10, 10);
    QCOMPARE(f.out.size(), 1);
    QVERIFY(command_cast<BCI_BWCAppAdded>(f.out.first()));
    QVERIFY(f.listed().contains(id));
    QVERIFY(!f.onDisk().hidden.contains(id));
}

void TestBandwidthService::leftoverTemporaryFiles()
{
    QTemporaryDir dir;
    const QStringList names{"s.json.Ab12Cd", "s.json.X9y8Z7",     "s.json.corrupt-20260101-000000",
                            "s.json.tmp",    "other.json.Ab12Cd", "s.json"};
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(StateFile(dir.filePath("s.json")).removeLeftovers(), 2);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
             QStringList(
                 {"other.json.Ab12Cd", "s.json", "s.json.corrupt-20260101-000000", "s.json.tmp"}));
}

void TestBandwidthService::processInfo()
{
    Fixture f;
    const QString path = f.backend.applications().at(1).path;
    auto* request = new BCI_GetProcessInfo;
    request->setPath(path.toLower());
    auto* reply = f.ask(request);
    QVERIFY(reply && reply->GetStatus() == Ok);
    QCOMPARE(reply->process().filePath, path);
    QVERIFY(!reply->process().description.isEmpty());
    // The icon is drawn, not blank: its centre (the letter) differs from its fill.
    const QImage icon = reply->process().icon.toImage();
    QVERIFY(icon.size() == QSize(32, 32) && icon.pixel(16, 4) != icon.pixel(0, 0));
}

void TestBandwidthService::stateFileRejects_data()
{
    QTest::addColumn<QByteArray>("json");
    ServiceState state;
    state.setSettings("00aa", {QStringLiteral("C:\\A\\\u00e9t\u00e9.exe"), 0, -1, 1, true});
    state.setSettings("00bb", {QStringLiteral("C:\\b.exe"), 12345, -2, -2, false});
    state.hidden.insert("00cc");
    const QByteArray good = state.toJson();
    QString error;
    QVERIFY2(ServiceState::fromJson(good, &state, &error), qPrintable(error));
    const auto row = [&](const char* name, const char* from, const char* to) {
        QTest::newRow(name) << QByteArray(good).replace(from, to);
        Q_ASSERT(QByteArray(good).replace(from, to) != good);
    };
    QTest::newRow("truncated") << good.left(good.size() / 2);
    row("future version", "\"version\": 1", "\"version\": 2");
    row("enabled not bool", "\"enabled\": true", "\"enabled\": 1");
    row("global of zero", "\"globalUploadMax\": 1250000", "\"globalUploadMax\": 0");
    row("limit over 32 bits", "\"globalUploadMax\": 1250000", "\"globalUploadMax\": 4294967296");
    row("default of -2", "\"defaultUploadMax\": -1", "\"defaultUploadMax\": -2");
    row("default priority 4", "\"defaultPriority\": 2", "\"defaultPriority\": 4");
    row("app limit -3", "\"uploadMax\": 12345", "\"uploadMax\": -3");
    row("app priority 0", "\"priority\": 1", "\"priority\": 0");
    row("app without id", "\"id\": \"00aa\"", "\"id\": \"\"");
    row("app listed twice", "\"id\": \"00bb\"", "\"id\": \"00aa\"");
    row("app not an object", "\"apps\": [", "\"apps\": [1,");
    row("hidden not a list", "\"hidden\": [", "\"hidden\": 1, \"x\": [");
    row("hidden id not a string", "\"00cc\"", "7");
}

void TestBandwidthService::stateFileRejects()
{
    QFETCH(QByteArray, json);
    ServiceState out;
    out.lanException = 7; // a marker: a failed parse must leave it alone
    QString error;
    QVERIFY(!ServiceState::fromJson(json, &out, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(out.lanException, 7);
}

void TestBandwidthService::stateFileKeepsToItsFolder_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("planted"); // what is made at the state file's name
    QTest::addColumn<bool>("early");      // before the service reads it, or before it first saves
    QTest::addColumn<int>("expected");    // of the read

    const int failed = int(StateFile::LoadResult::Failed);
    const int missing = int(StateFile::LoadResult::Missing);
    const int aside = int(StateFile::LoadResult::MovedAside);
    QTest::newRow("folder anyone can write to") << 0777 << "" << true << failed;
    QTest::newRow("folder its group can write to") << 0775 << "" << true << failed;
    QTest::newRow("link in a shared sticky folder") << 01777 << "link" << false << missing;
    QTest::newRow("dangling link in a sticky folder") << 01777 << "dangling" << false << missing;
    QTest::newRow("link there at the start") << 0700 << "link" << true << aside;
    QTest::newRow("fifo there at the start") << 0700 << "fifo" << true << aside;
}

void TestBandwidthService::stateFileKeepsToItsFolder()
{
    QFETCH(int, mode);
    QFETCH(QString, planted);
    QFETCH(bool, early);
    QFETCH(int, expected);

    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath("shared");
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(mode)), 0);
    const QString path = folder + "/state.json";
    const auto plant = [&] {
        if (planted == "link")
            return QFile::link(victim, path);
        if (planted == "dangling")
            return QFile::link(elsewhere.filePath("made"), path);
        return planted != "fifo" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    };

    if (early)
        QVERIFY(plant());
    StateFile file(path);
    ServiceState state;
    QString message;
    QCOMPARE(int(file.load(&state, &message)), expected);
    if (!early)
        QVERIFY(plant());
    QString error;
    ServiceState changed;
    changed.enabled = !changed.enabled;
    if (expected == int(StateFile::LoadResult::Failed)) {
        QVERIFY2(message.contains("other users can write"), qPrintable(message));
        QVERIFY(!file.save(changed, &error));
    } else {
        QVERIFY2(file.save(changed, &error), qPrintable(error));
        QVERIFY(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
        QCOMPARE(int(file.load(&state, &message)), int(StateFile::LoadResult::Loaded));
        QVERIFY(state == changed);
    }
    // Nothing outside the state file changed.
    QFile kept(victim);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("precious"));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"victim"});
}

QTEST_MAIN(TestBandwidthService)
#include "tst_bandwidthservice.moc"
