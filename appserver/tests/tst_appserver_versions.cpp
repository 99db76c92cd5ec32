// Data versions and the answer cache: each write bumps the versions of what
// it changes; a read after a write is never stale, in this process or in
// another one on the same database; an unchanged read is answered by its
// validator alone; the same read asked at once is built once; the cache
// keeps within its bound.
#include "AnswerCache.h"
#include "DataVersions.h"
#include "Harness.h"

#include <atomic>
#include <thread>

namespace {

const QString kF = QStringLiteral("0001"), kP = QStringLiteral("0000000001");

DataVersions::Stamp stamp(Harness &h, const QString &projeto = kP)
{
    QSqlDatabase db = h.db->connection();
    return DataVersions::read(db, kF, projeto);
}

CoreResponse ask(ServerCore &core, const QByteArray &token, const QString &method, const QJsonArray &params,
                 const QByteArray &ifNoneMatch = {})
{
    const QJsonObject req{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}};
    CoreRequest r{"POST", "/" + QByteArray(kContractModuleName), "Bearer " + token,
                  QJsonDocument(req).toJson(QJsonDocument::Compact), {}};
    r.ifNoneMatch = ifNoneMatch;
    return core.handle(r);
}

qint64 metric(ServerCore &core, const QByteArray &name)
{
    for (const QByteArray &line : core.metricsText().split('\n'))
        if (line.startsWith(QByteArray(name + ' ')))
            return line.mid(name.size() + 1).toLongLong();
    return -1;
}

QJsonArray rowsOf(const CoreResponse &r)
{
    return Harness::rows(QJsonDocument::fromJson(r.body).object());
}

const QByteArray kAnotherProject = R"({"projects":[{"CDFILIAL":"0001","CDPROJETO":"0000000009","NMPROJETO":"Novo",
 "CDOPERESPRJ":"ANA","activities":[{"CDSEQCRONPRJ":"00001","NRBASELINEPR":"001","CDVERCRONPRJ":"001",
 "CDITEMTRAB":"IT01","DESCRICAO":"a","CDOPERRESP":"ANA","NRTAREFA":"1","NRPLATIVTARE":"1","SITUACAO":"A"}]}]})";

} // namespace

class TestVersions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { VOR_REQUIRE_TEST_BACKEND(); }

    void writesBumpWhatTheyChange()
    {
        Harness h;
        const QByteArray ana = h.login("ANA", "ana123");
        const DataVersions::Stamp s0 = stamp(h);
        QVERIFY(s0.epoch != 0);

        const QJsonObject list = Harness::payload(h.call(ana, "getConcAtivPro", {kF, kP})).toObject();
        QVERIFY(h.call(ana, "setAprovaAtividades", {Harness::changeLog(list, {{"00003", "S"}})}).contains("result"));
        const DataVersions::Stamp s1 = stamp(h);
        QCOMPARE(s1.activities, s0.activities + 1);
        QCOMPARE(s1.bookings, s0.bookings);
        QCOMPARE(s1.reference, s0.reference);

        QVERIFY(h.call(ana, "SetAtualizaConcCSA", {kF, kP, "001", "001", "00004", "55,5"}).contains("result"));
        const DataVersions::Stamp s2 = stamp(h);
        QCOMPARE(s2.activities, s1.activities + 1);
        QCOMPARE(s2.bookings, s1.bookings);

        // A refused write leaves every version as it was.
        QCOMPARE(Harness::errorCode(h.call(ana, "SetAtualizaConcCSA", {kF, kP, "001", "001", "99999", "5"})), -32011);
        const DataVersions::Stamp s3 = stamp(h);
        QCOMPARE(s3.activities, s2.activities);

        Fixture::import(*h.db, kAnotherProject, Harness::kFastHash);
        const DataVersions::Stamp s4 = stamp(h), added = stamp(h, "0000000009");
        QCOMPARE(s4.reference, s3.reference + 1);
        QCOMPARE(s4.activities, s3.activities);
        QCOMPARE(s4.bookings, s3.bookings);
        QVERIFY(added.activities > 0 && added.bookings > 0);
        QCOMPARE(s4.epoch, s0.epoch);
    }

    void readsAfterWritesAreCurrent()
    {
        Harness h;
        const QByteArray ana = h.login("ANA", "ana123");
        const CoreResponse list = ask(*h.core, ana, "getConcAtivPro", {kF, kP});
        const CoreResponse bookings = ask(*h.core, ana, "getCSAAux", {kF, kP});
        QVERIFY(list.etag.startsWith("W/\"") && bookings.etag.startsWith("W/\""));
        QVERIFY(list.etag != bookings.etag);

        // Unchanged: the validator alone, no body.
        const CoreResponse same = ask(*h.core, ana, "getConcAtivPro", {kF, kP}, list.etag);
        QCOMPARE(same.status, 304);
        QVERIFY(same.body.isEmpty());
        QCOMPARE(same.etag, list.etag);
        // Another read's validator is not this one's.
        QCOMPARE(ask(*h.core, ana, "getConcAtivPro", {kF, kP}, bookings.etag).status, 200);
        QCOMPARE(ask(*h.core, ana, "getConcAtivPro", {kF, "0000000002"}, list.etag).status, 200);
        // Without a validator the answer is the full one, byte for byte.
        QCOMPARE(ask(*h.core, ana, "getConcAtivPro", {kF, kP}).body, list.body);

        const QJsonObject packet = Harness::payload(QJsonDocument::fromJson(list.body).object()).toObject();
        QVERIFY(h.call(ana, "setAprovaAtividades", {Harness::changeLog(packet, {{"00003", "S"}})}).contains("result"));

        const CoreResponse after = ask(*h.core, ana, "getConcAtivPro", {kF, kP}, list.etag);
        QCOMPARE(after.status, 200);
        QVERIFY(after.etag != list.etag);
        QVERIFY(rowsOf(after) != rowsOf(list));
        // An approval changes no booking: that answer still stands.
        QCOMPARE(ask(*h.core, ana, "getCSAAux", {kF, kP}, bookings.etag).status, 304);

        QVERIFY(h.call(ana, "SetAtualizaConcCSA", {kF, kP, "001", "001", "00004", "55,5"}).contains("result"));
        const CoreResponse plan = ask(*h.core, ana, "getPlanProj", {kF, kP}, after.etag);
        QCOMPARE(plan.status, 200);
        const CoreResponse changed = ask(*h.core, ana, "getConcAtivPro", {kF, kP}, after.etag);
        QCOMPARE(changed.status, 200);
        const QJsonObject changedPacket = Harness::payload(QJsonDocument::fromJson(changed.body).object()).toObject();
        bool seen = false;
        for (const QJsonValue &row : changedPacket.value("rows").toArray())
            if (Harness::field(changedPacket, row.toArray(), "CDSEQCRONPRJ") == "00004")
                seen = Harness::field(changedPacket, row.toArray(), "VRPERCCONCL").toDouble() == 55.5;
        QVERIFY(seen);
    }

    // Two processes on one database: each keeps its own answers, and the
    // versions in the database keep them right.
    void anotherProcessWritesAndThisOneSees()
    {
        Harness h;
        const QByteArray ana = h.login("ANA", "ana123");
        const CoreResponse before = ask(*h.core, ana, "getConcAtivPro", {kF, kP});
        QCOMPARE(ask(*h.core, ana, "getConcAtivPro", {kF, kP}, before.etag).status, 304);

        Database second(h.db->config());
        ServerCore other(second, h.sessions, [](const QByteArray &) {});
        QCOMPARE(ask(other, ana, "getConcAtivPro", {kF, kP}, before.etag).status, 304);
        QCOMPARE(Harness::errorCode(QJsonDocument::fromJson(
                     ask(other, ana, "SetAtualizaConcCSA", {kF, kP, "001", "001", "00004", "12"}).body).object()),
                 0);

        const CoreResponse seen = ask(*h.core, ana, "getConcAtivPro", {kF, kP}, before.etag);
        QCOMPARE(seen.status, 200);
        QVERIFY(seen.body.contains("12"));
        QCOMPARE(seen.body, ask(other, ana, "getConcAtivPro", {kF, kP}).body);
    }

    void sameReadsAtOnceAreBuiltOnce()
    {
        Harness h;
        const QByteArray ana = h.login("ANA", "ana123");
        const qint64 builds = metric(*h.core, "vor_answer_cache_builds_total");
        std::atomic<int> ok{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < 8; ++i)
            clients.emplace_back([&] {
                if (ask(*h.core, ana, "getCSAAux", {kF, kP}).status == 200)
                    ++ok;
            });
        for (std::thread &t : clients)
            t.join();
        QCOMPARE(ok.load(), 8);
        QCOMPARE(metric(*h.core, "vor_answer_cache_builds_total"), builds + 1);
        QCOMPARE(metric(*h.core, "vor_answer_cache_hits_total"), 7);
    }

    void cacheKeepsWithinItsBound()
    {
        AnswerCache cache(10'000);
        auto answer = [](qsizetype bytes) {
            return [bytes] {
                EncodedAnswer a;
                a.payload = QByteArray(bytes, 'x');
                return a;
            };
        };
        for (int i = 0; i < 50; ++i)
            cache.get(QByteArray::number(i), answer(900));
        QVERIFY(cache.stats().bytes <= 10'000);
        QVERIFY(cache.stats().evicted > 0);
        // The most recent stay; the oldest went.
        bool built = false;
        cache.get("49", answer(900), &built);
        QVERIFY(!built);
        cache.get("0", answer(900), &built);
        QVERIFY(built);
        // An answer larger than half the bound is served, never kept.
        cache.get("huge", answer(6'000), &built);
        QVERIFY(built);
        cache.get("huge", answer(6'000), &built);
        QVERIFY(built);
        QVERIFY(cache.stats().bytes <= 10'000);
        // A failed build is not kept: the next caller builds again.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 cache.get("bad", []() -> EncodedAnswer { throw std::runtime_error("no"); }));
        cache.get("bad", answer(10), &built);
        QVERIFY(built);
    }

    void validatorsMatchAsHttpSays()
    {
        QVERIFY(DataVersions::matches("W/\"1.2.3-ab\"", "W/\"1.2.3-ab\""));
        QVERIFY(DataVersions::matches("\"x\", W/\"1.2.3-ab\"", "W/\"1.2.3-ab\""));
        QVERIFY(DataVersions::matches("\"1.2.3-ab\"", "W/\"1.2.3-ab\""));
        QVERIFY(!DataVersions::matches("*", "W/\"1.2.3-ab\""));
        QVERIFY(!DataVersions::matches("", "W/\"1.2.3-ab\""));
        QVERIFY(!DataVersions::matches("W/\"1.2.3-abc\"", "W/\"1.2.3-ab\""));
    }
};

QTEST_MAIN(TestVersions)
#include "tst_appserver_versions.moc"
