#include "bandwidthservice.h"
#include "commands.h"
#include "framecodec.h"
#include "replybuilder.h"
#include "simulatedbackend.h"
#include "statefile.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A service over a simulated machine, with every command it emits collected.
class Fixture
{
public:
    explicit Fixture(int apps = 30, const QString& statePath = QString())
        : backend({9, apps, false}),
          file(statePath.isEmpty() ? dir.filePath(QStringLiteral("state.json")) : statePath),
          service(&backend, ServiceState(), &file)
    {
        QObject::connect(&service, &BandwidthService::commandReady,
                         [this](const BaseCommandPtr& c) { out.append(c); });
    }

    // Sends a request and gives its reply; the broadcasts it caused stay in out.
    template <class T> T* ask(T* request)
    {
        BaseCommandPtr command(request);
        command->SetSequence(++sequence);
        command->SetUuid(session);
        out.clear();
        service.handleCommand(command);
        if (out.isEmpty() || out.first()->GetSequence() != sequence ||
            out.first()->GetType() != T::TypeId)
            return nullptr;
        replies.append(out.takeFirst());
        return static_cast<T*>(replies.last().data());
    }

    BCI_BWCSetAppSettings* set(const QString& id, qint32 up, qint32 down, qint32 priority = -2,
                               bool highest = false)
    {
        BWCEntryPtr entry(new BWCEntry);
        entry->id = id;
        entry->uploadMax = up;
        entry->downloadMax = down;
        entry->priority = priority;
        entry->highest = highest;
        auto* request = new BCI_BWCSetAppSettings;
        request->setEntry(entry);
        return ask(request);
    }

    QHash<QString, BWCStatEntryPtr> stats(BWCStatEntryPtr* total)
    {
        QHash<QString, BWCStatEntryPtr> lines;
        for (const BWCStatEntryPtr& line : ask(new BCI_BWCStats)->stats()) {
            if (line->isTotal)
                *total = line;
            else
                lines.insert(line->id, line);
        }
        return lines;
    }

    // Stops every application but the given ones, which want the given rates.
    void only(const QList<QString>& ids, quint32 up, quint32 down)
    {
        for (const Backend::App& app : backend.applications())
            backend.script(app.id, ids.contains(app.id) ? 1 : 0, up, down);
        out.clear();
    }

    QString id(int i) const { return backend.applications().at(i).id; }

    QTemporaryDir dir;
    SimulatedBackend backend;
    StateFile file;
    BandwidthService service;
    QList<BaseCommandPtr> out;
    QList<BaseCommandPtr> replies;
    quint32 sequence = 100;
    QUuid session = QUuid::createUuid();
};

} // namespace

class TestBandwidthService : public QObject
{
    Q_OBJECT
private slots:
    void everyRequestIsAnswered_data();
    void everyRequestIsAnswered();
    void notificationsFromClientsAreNotAnswered();
    void blockedApplicationShowsZero();
    void capsAndGlobalMaxima();
    void higherPriorityWinsUnderContention();
    void disabledControlEnforcesNothing();
    void invalidChangesAreRefused_data();
    void invalidChangesAreRefused();
    void defaultsAndGlobalsRoundTrip();
    void globalsBroadcastOnlyOnChange();
    void resetRestoresFactoryState();
    void enumerationSplitsAtFrameLimit_data();
    void enumerationSplitsAtFrameLimit();
    void applicationsComingAndGoing();
    void removedApplicationHidesUntilItRuns();
    void devicesChangedIsBroadcast();
    void changeIsOnDiskBeforeItsReply();
    void unwritableStateRefusesChange();
    void processInfo();
};

void TestBandwidthService::everyRequestIsAnswered_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");
    const int ok = BCS_SUCCESS;
    QTest::newRow("BWCGetGlobals") << int(BCI_BWCGetGlobals::TypeId) << ok;
    QTest::newRow("BWCSetGlobals") << int(BCI_BWCSetGlobals::TypeId) << int(BCS_INVALID);
    QTest::newRow("BWCGetDefaults") << int(BCI_BWCGetDefaults::TypeId) << ok;
    QTest::newRow("BWCSetDefaults") << int(BCI_BWCSetDefaults::TypeId) << int(BCS_INVALID);
    QTest::newRow("BWCStart") << int(BCI_BWCStart::TypeId) << ok;
    QTest::newRow("BWCStop") << int(BCI_BWCStop::TypeId) << ok;
    QTest::newRow("BWCEnumApps") << int(BCI_BWCEnumApps::TypeId) << ok;
    QTest::newRow("BWCSetAppSettings") << int(BCI_BWCSetAppSettings::TypeId) << int(BCS_INVALID);
    QTest::newRow("BWCGetAppSettings") << int(BCI_BWCGetAppSettings::TypeId) << int(BCS_INVALID);
    QTest::newRow("BWCRemoveAppSettings")
        << int(BCI_BWCRemoveAppSettings::TypeId) << int(BCS_INVALID);
    QTest::newRow("BWCResetAll") << int(BCI_BWCResetAll::TypeId) << ok;
    QTest::newRow("BWCStats") << int(BCI_BWCStats::TypeId) << ok;
    QTest::newRow("GetProcessInfo") << int(BCI_GetProcessInfo::TypeId) << int(BCS_INVALID);
    QTest::newRow("EnumDevices") << int(BCI_EnumDevices::TypeId) << ok;
    QTest::newRow("GetVersions") << int(BCI_GetVersions::TypeId) << int(BCS_UNSUPPORTED);
    QTest::newRow("GetMTU") << int(BCI_GetMTU::TypeId) << int(BCS_UNSUPPORTED);
    QTest::newRow("BWCDoSpeedTest") << int(BCI_BWCDoSpeedTest::TypeId) << int(BCS_UNSUPPORTED);
}

void TestBandwidthService::everyRequestIsAnswered()
{
    // Each request as a client's freshly decoded frame: default payload.
    QFETCH(int, type);
    QFETCH(int, status);
    Fixture f;
    BaseCommandPtr request = BaseCommand::GetCmd(type);
    // A record-valued field always arrives as a record, empty or not.
    if (auto* c = command_cast<BCI_BWCSetAppSettings>(request))
        c->setEntry(BWCEntryPtr(new BWCEntry));
    if (auto* c = command_cast<BCI_BWCGetAppSettings>(request))
        c->setEntry(BWCEntryPtr(new BWCEntry));
    if (auto* c = command_cast<BCI_BWCRemoveAppSettings>(request))
        c->setEntry(BWCEntryPtr(new BWCEntry));
    QByteArray frame;
    QCOMPARE(FrameCodec::encode(request.data(), &frame), 0);
    qint64 used = 0;
    QCOMPARE(FrameCodec::decode(frame, &request, &used), 0);
    request->SetSequence(4242);
    request->SetUuid(f.session);
    f.service.handleCommand(request);
    QVERIFY(!f.out.isEmpty());
    const BaseCommandPtr reply = f.out.first();
    QCOMPARE(int(reply->GetType()), type);
    QCOMPARE(reply->GetSequence(), 4242u);
    QCOMPARE(reply->GetUuid(), f.session);
    QCOMPARE(reply->GetStatus(), status);
    // The reply can be written and stays within the frame limit.
    QVERIFY(FrameCodec::encode(reply.data(), &frame) == 0);
    QVERIFY(frame.size() <= int(BaseCommand::MaxFrameLength));
    for (int i = 1; i < f.out.size(); ++i)
        QVERIFY(f.out[i]->HasTypeBits(BWC_BROADCAST_BITS));
}

void TestBandwidthService::notificationsFromClientsAreNotAnswered()
{
    Fixture f;
    f.service.handleCommand(BaseCommandPtr(new BCI_BWCGlobalsChanged));
    f.service.handleCommand(BaseCommandPtr(new BCI_DevicesChanged));
    QVERIFY(f.out.isEmpty());
}

void TestBandwidthService::blockedApplicationShowsZero()
{
    Fixture f;
    f.only({f.id(0), f.id(1)}, 30000, 90000);
    // Either limit at 0 blocks the application both ways.
    QCOMPARE(f.set(f.id(0), 0, -2)->GetStatus(), int(BCS_SUCCESS));
    BWCStatEntryPtr total;
    QHash<QString, BWCStatEntryPtr> lines = f.stats(&total);
    QCOMPARE(lines.value(f.id(0))->sentRate, 0u);
    QCOMPARE(lines.value(f.id(0))->receivedRate, 0u);
    QCOMPARE(lines.value(f.id(1))->receivedRate, 90000u);
    QCOMPARE(total->receivedRate, 90000u);
    // A blocked default reaches applications that follow it, until allowed.
    auto* defaults = new BCI_BWCSetDefaults;
    defaults->setDefaultUploadMax(-1);
    defaults->setDefaultDownloadMax(0);
    defaults->setDefaultPriority(2);
    QCOMPARE(f.ask(defaults)->GetStatus(), int(BCS_SUCCESS));
    lines = f.stats(&total);
    QCOMPARE(lines.value(f.id(1))->sentRate, 0u);
    QCOMPARE(total->receivedRate, 0u);
    QCOMPARE(f.set(f.id(1), -1, 50000)->GetStatus(), int(BCS_SUCCESS));
    lines = f.stats(&total);
    QCOMPARE(lines.value(f.id(1))->sentRate, 30000u);
    QCOMPARE(lines.value(f.id(1))->receivedRate, 50000u);
}

void TestBandwidthService::capsAndGlobalMaxima()
{
    Fixture f;
    const QList<QString> ids{f.id(0), f.id(1), f.id(2), f.id(3)};
    f.only(ids, 900000, 5000000);
    f.set(ids[0], 1234, 5678);
    BWCStatEntryPtr total;
    QHash<QString, BWCStatEntryPtr> lines = f.stats(&total);
    QCOMPARE(lines.value(ids[0])->sentRate, 1234u);
    QCOMPARE(lines.value(ids[0])->receivedRate, 5678u);
    // The factory maxima bind: four applications want far more.
    QCOMPARE(total->sentRate, quint32(ServiceState::FactoryGlobalUpload));
    QCOMPARE(total->receivedRate, quint32(ServiceState::FactoryGlobalDownload));
    quint32 sum = 0;
    for (const BWCStatEntryPtr& line : lines)
        sum += line->receivedRate;
    QCOMPARE(sum, total->receivedRate);

    auto* globals = new BCI_BWCSetGlobals;
    globals->setGlobalUploadMax(100000);
    globals->setGlobalDownloadMax(-1);
    QCOMPARE(f.ask(globals)->GetStatus(), int(BCS_SUCCESS));
    lines = f.stats(&total);
    QVERIFY(total->sentRate <= 100000u);
    // Without a global maximum only the link itself limits the total.
    QCOMPARE(total->receivedRate, quint32(SimulatedBackend::LinkDownload));
}

void TestBandwidthService::higherPriorityWinsUnderContention()
{
    Fixture f;
    const QString a = f.id(0), b = f.id(1), c = f.id(2);
    f.only({a, b, c}, 2000000, 10000000);
    f.set(a, -2, -2, 1, true); // "1 - Highest"
    f.set(b, -2, -2, 2);       // "3 - Normal"
    f.set(c, -2, -2, 3);       // "4 - Low"
    BWCStatEntryPtr total;
    const QHash<QString, BWCStatEntryPtr> lines = f.stats(&total);
    QVERIFY(lines.value(a)->receivedRate > lines.value(b)->receivedRate);
    QVERIFY(lines.value(b)->receivedRate > lines.value(c)->receivedRate);
    QVERIFY(lines.value(c)->receivedRate > 0);
    QVERIFY(total->receivedRate <= quint32(ServiceState::FactoryGlobalDownload));
}

void TestBandwidthService::disabledControlEnforcesNothing()
{
    Fixture f;
    f.only({f.id(0)}, 3000, 4000);
    f.set(f.id(0), 0, 0);
    QCOMPARE(f.ask(new BCI_BWCStop)->GetStatus(), int(BCS_SUCCESS));
    BWCStatEntryPtr total;
    QCOMPARE(f.stats(&total).value(f.id(0))->receivedRate, 4000u);
    QCOMPARE(f.ask(new BCI_BWCStart)->GetStatus(), int(BCS_SUCCESS));
    QCOMPARE(f.stats(&total).value(f.id(0))->receivedRate, 0u);
}

void TestBandwidthService::invalidChangesAreRefused_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint32>("a");
    QTest::addColumn<qint32>("b");
    QTest::addColumn<qint32>("c");
    // kind 0: app settings (up, down, priority); 1: defaults; 2: globals; 3: unknown app.
    QTest::newRow("app upload -3") << 0 << -3 << -1 << -2;
    QTest::newRow("app priority 0") << 0 << -1 << -1 << 0;
    QTest::newRow("app priority 4") << 0 << -1 << -1 << 4;
    QTest::newRow("default limit -2") << 1 << -2 << -1 << 2;
    QTest::newRow("default priority 0") << 1 << -1 << -1 << 0;
    QTest::newRow("global of 0") << 2 << 0 << 1000 << 0;
    QTest::newRow("global of -5") << 2 << 1000 << -5 << 0;
    QTest::newRow("unknown application") << 3 << 100 << 100 << 1;
}

void TestBandwidthService::invalidChangesAreRefused()
{
    QFETCH(int, kind);
    QFETCH(qint32, a);
    QFETCH(qint32, b);
    QFETCH(qint32, c);
    Fixture f;
    BaseCommand* reply = nullptr;
    if (kind == 0) {
        reply = f.set(f.id(0), a, b, c);
    } else if (kind == 1) {
        auto* request = new BCI_BWCSetDefaults;
        request->setDefaultUploadMax(a);
        request->setDefaultDownloadMax(b);
        request->setDefaultPriority(c);
        reply = f.ask(request);
    } else if (kind == 2) {
        auto* request = new BCI_BWCSetGlobals;
        request->setGlobalUploadMax(a);
        request->setGlobalDownloadMax(b);
        reply = f.ask(request);
    } else {
        reply = f.set(QStringLiteral("no such id"), a, b, c);
    }
    QVERIFY(reply);
    QCOMPARE(reply->GetStatus(), int(BCS_INVALID));
    QVERIFY(f.service.state() == ServiceState());
    QVERIFY(!QFile::exists(f.file.path()));
    QVERIFY(f.out.isEmpty()); // no broadcast either
}

void TestBandwidthService::defaultsAndGlobalsRoundTrip()
{
    Fixture f;
    auto* defaults = new BCI_BWCSetDefaults;
    defaults->setDefaultUploadMax(1000);
    defaults->setDefaultDownloadMax(-1);
    defaults->setDefaultPriority(3);
    defaults->setLanException(7);
    QCOMPARE(f.ask(defaults)->GetStatus(), int(BCS_SUCCESS));
    auto* got = f.ask(new BCI_BWCGetDefaults);
    QCOMPARE(got->defaultUploadMax(), 1000);
    QCOMPARE(got->defaultDownloadMax(), -1);
    QCOMPARE(got->defaultPriority(), 3);
    QCOMPARE(got->lanException(), 1);

    auto* globals = new BCI_BWCSetGlobals;
    globals->setGlobalUploadMax(-1);
    globals->setGlobalDownloadMax(250000);
    QCOMPARE(f.ask(globals)->GetStatus(), int(BCS_SUCCESS));
    auto* current = f.ask(new BCI_BWCGetGlobals);
    QCOMPARE(current->globalUploadMax(), -1);
    QCOMPARE(current->globalDownloadMax(), 250000);
    QVERIFY(current->enabled());

    // Application settings come back in the entry of every later enumeration.
    f.set(f.id(4), 700, -1, 1, true);
    for (const BWCEntryPtr& entry : f.ask(new BCI_BWCEnumApps)->apps()) {
        if (entry->id != f.id(4))
            continue;
        QCOMPARE(entry->uploadMax, 700);
        QCOMPARE(entry->downloadMax, -1);
        QCOMPARE(entry->priority, 1);
        QVERIFY(entry->highest);
    }
}

void TestBandwidthService::globalsBroadcastOnlyOnChange()
{
    Fixture f;
    const auto globalsBroadcasts = [&] {
        QList<BCI_BWCGlobalsChanged*> list;
        for (const BaseCommandPtr& c : std::as_const(f.out)) {
            if (auto* g = command_cast<BCI_BWCGlobalsChanged>(c))
                list.append(g);
        }
        return list;
    };
    f.ask(new BCI_BWCStart); // already on
    QCOMPARE(globalsBroadcasts().size(), 0);
    f.ask(new BCI_BWCStop);
    QCOMPARE(globalsBroadcasts().size(), 1);
    QVERIFY(!globalsBroadcasts().first()->enabled());
    QCOMPARE(globalsBroadcasts().first()->GetStatus(), int(BCS_SUCCESS));
    auto* globals = new BCI_BWCSetGlobals;
    globals->setGlobalUploadMax(5000);
    globals->setGlobalDownloadMax(ServiceState::FactoryGlobalDownload);
    f.ask(globals);
    QCOMPARE(globalsBroadcasts().size(), 1);
    QCOMPARE(globalsBroadcasts().first()->globalUploadMax(), 5000);
}

void TestBandwidthService::resetRestoresFactoryState()
{
    Fixture f;
    f.set(f.id(0), 0, 0);
    f.set(f.id(1), 100, 200, 3);
    f.ask(new BCI_BWCStop);
    auto* defaults = new BCI_BWCSetDefaults;
    defaults->setDefaultUploadMax(0);
    defaults->setDefaultDownloadMax(0);
    defaults->setDefaultPriority(1);
    f.ask(defaults);
    QVERIFY(f.service.state() != ServiceState());

    auto* reset = f.ask(new BCI_BWCResetAll);
    QCOMPARE(reset->GetStatus(), int(BCS_SUCCESS));
    // The module waits for this broadcast to finish its reset.
    QCOMPARE(f.out.size(), 1);
    auto* changed = command_cast<BCI_BWCGlobalsChanged>(f.out.first());
    QVERIFY(changed && changed->enabled());
    QVERIFY(f.service.state() == ServiceState());
    for (const BWCEntryPtr& entry : f.ask(new BCI_BWCEnumApps)->apps()) {
        QCOMPARE(entry->uploadMax, -2);
        QCOMPARE(entry->priority, -2);
    }
    ServiceState onDisk;
    QString message;
    QCOMPARE(f.file.load(&onDisk, &message), StateFile::LoadResult::Loaded);
    QVERIFY(onDisk == ServiceState());
}

void TestBandwidthService::enumerationSplitsAtFrameLimit_data()
{
    QTest::addColumn<int>("apps");
    QTest::newRow("30 fit one frame") << 30;
    QTest::newRow("1500 do not") << 1500;
}

void TestBandwidthService::enumerationSplitsAtFrameLimit()
{
    QFETCH(int, apps);
    Fixture f(apps);
    auto* reply = f.ask(new BCI_BWCEnumApps);
    QByteArray frame;
    QCOMPARE(FrameCodec::encode(reply, &frame), 0);
    QVERIFY(frame.size() <= int(BaseCommand::MaxFrameLength));
    QSet<QString> ids;
    for (const BWCEntryPtr& entry : reply->apps())
        ids.insert(entry->id);
    const int inReply = ids.size();
    for (const BaseCommandPtr& c : std::as_const(f.out)) {
        auto* added = command_cast<BCI_BWCAppAdded>(c);
        QVERIFY(added);
        ids.insert(added->entry()->id);
    }
    QCOMPARE(ids.size(), apps);
    if (apps == 30) {
        QCOMPARE(inReply, 30);
        return;
    }
    QVERIFY(inReply < apps);
    // The reply is as full as it can be: one more entry would not fit.
    const BWCEntryPtr next = command_cast<BCI_BWCAppAdded>(f.out.first())->entry();
    QVERIFY(frame.size() + ReplyBuilder::encodedSize(next) > int(BaseCommand::MaxFrameLength));
}

void TestBandwidthService::applicationsComingAndGoing()
{
    Fixture f;
    const QString id = f.id(2);
    f.only({}, 0, 0);
    f.backend.script(id, 2, 10, 10);
    QCOMPARE(f.out.size(), 1);
    auto* added = command_cast<BCI_BWCAppAdded>(f.out.first());
    QVERIFY(added);
    QCOMPARE(added->entry()->id, id);
    QCOMPARE(added->entry()->idList.size(), 2);
    QCOMPARE(added->GetStatus(), int(BCS_SUCCESS));
    f.out.clear();
    f.backend.script(id, 0, 0, 0);
    QCOMPARE(f.out.size(), 1);
    auto* removed = command_cast<BCI_BWCAppRemoved>(f.out.first());
    QVERIFY(removed);
    QVERIFY(removed->entry()->idList.isEmpty());

    // Left alone, the machine's applications come and go with announcements.
    Fixture lively;
    for (int second = 0; second < 1800; ++second)
        lively.backend.advance(1000);
    QSet<quint32> types;
    for (const BaseCommandPtr& c : std::as_const(lively.out))
        types.insert(c->GetType());
    QVERIFY(types.contains(BCI_BWCAppAdded::TypeId));
    QVERIFY(types.contains(BCI_BWCAppRemoved::TypeId));
}

void TestBandwidthService::removedApplicationHidesUntilItRuns()
{
    Fixture f;
    const QString id = f.id(5);
    f.backend.script(id, 0, 0, 0);
    f.set(id, 0, 0);
    auto* remove = new BCI_BWCRemoveAppSettings;
    BWCEntryPtr entry(new BWCEntry);
    entry->path = f.backend.applications().at(5).path.toUpper(); // found by path too
    remove->setEntry(entry);
    QCOMPARE(f.ask(remove)->GetStatus(), int(BCS_SUCCESS));
    QVERIFY(!f.service.state().apps.contains(id));
    const auto listed = [&] {
        for (const BWCEntryPtr& e : f.ask(new BCI_BWCEnumApps)->apps()) {
            if (e->id == id)
                return true;
        }
        return false;
    };
    QVERIFY(!listed());
    f.backend.script(id, 0, 0, 0); // still stopped: nothing to announce
    f.backend.script(id, 1, 10, 10);
    QCOMPARE(f.out.size(), 1);
    QVERIFY(command_cast<BCI_BWCAppAdded>(f.out.first()));
    QVERIFY(listed());
}

void TestBandwidthService::devicesChangedIsBroadcast()
{
    Fixture f;
    QCOMPARE(f.ask(new BCI_EnumDevices)->devices().size(), 1);
    f.backend.setWirelessPresent(true);
    QCOMPARE(f.out.size(), 1);
    auto* changed = command_cast<BCI_DevicesChanged>(f.out.first());
    QVERIFY(changed);
    QCOMPARE(changed->devices().size(), 2);
    QCOMPARE(qint32(changed->devices().last()->deviceId), -253);
}

void TestBandwidthService::changeIsOnDiskBeforeItsReply()
{
    Fixture f;
    const QString id = f.id(3);
    QList<ServiceState> seen;
    QObject::connect(&f.service, &BandwidthService::commandReady, [&](const BaseCommandPtr& c) {
        if (c->HasTypeBits(BWC_BROADCAST_BITS))
            return;
        ServiceState onDisk;
        QString message;
        f.file.load(&onDisk, &message);
        seen.append(onDisk);
    });
    f.set(id, 4321, -1);
    f.ask(new BCI_BWCStop);
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].settingsFor(id).uploadMax, 4321);
    QVERIFY(seen[0].enabled);
    QVERIFY(!seen[1].enabled);
}

void TestBandwidthService::unwritableStateRefusesChange()
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // The state file's folder would have to be inside a plain file.
    Fixture f(30, dir.filePath(QStringLiteral("file/state.json")));
    f.only({f.id(0)}, 100, 100);
    QCOMPARE(f.set(f.id(0), 0, 0)->GetStatus(), int(BCS_WRITE_FAILED));
    QCOMPARE(f.ask(new BCI_BWCStop)->GetStatus(), int(BCS_WRITE_FAILED));
    QVERIFY(f.out.isEmpty());
    QVERIFY(f.service.state() == ServiceState());
    BWCStatEntryPtr total;
    QCOMPARE(f.stats(&total).value(f.id(0))->receivedRate, 100u);
}

void TestBandwidthService::processInfo()
{
    Fixture f;
    const Backend::App app = f.backend.applications().at(1);
    auto* request = new BCI_GetProcessInfo;
    request->setPath(app.path);
    auto* reply = f.ask(request);
    QCOMPARE(reply->GetStatus(), int(BCS_SUCCESS));
    QCOMPARE(reply->path(), app.path);
    QCOMPARE(reply->process().filePath, app.path);
    QVERIFY(!reply->process().description.isEmpty());
    QVERIFY(!reply->process().icon.isNull());
    auto* unknown = new BCI_GetProcessInfo;
    unknown->setPath(QStringLiteral("C:\\elsewhere.exe"));
    QCOMPARE(f.ask(unknown)->GetStatus(), int(BCS_INVALID));
}

QTEST_MAIN(TestBandwidthService)
#include "tst_bandwidthservice.moc"
