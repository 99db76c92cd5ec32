// The HTTP layer's pieces, without a socket: how a head is read, what is
// inflated, who is let in or closed to make room, what a throwing request
// leaves behind, and when a peer counts as too slow.
#include "ConnectionTable.h"
#include "HttpCompression.h"
#include "RateMeter.h"
#include "RequestHead.h"
#include "WorkerPool.h"

#include <QTest>

#include <atomic>

namespace {

// Test bodies, gzip-compressed by the server's own reply coder.
QByteArray gzip(const QByteArray &in)
{
    QByteArray out;
    return HttpCompression::compress(HttpCompression::Coding::Gzip, in, out) ? out : QByteArray();
}

std::optional<HttpRefusal> parseHead(const QByteArray &head, RequestHead *out = nullptr)
{
    RequestHead h;
    const auto r = RequestHead::parse(std::string_view(head.constData(), size_t(head.size())), h);
    if (out)
        *out = h;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<HttpRefusal>)

class TestHttpLayer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heads_data();
    void heads();
    void headFacts();
    void inflation();
    void acceptEncoding();
    void admissionAndEviction();
    void workerFaultsAndQueue();
    void rateWindow();
};

void TestHttpLayer::heads_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status"); // 0: accepted
    const QByteArray line = "POST /x HTTP/1.1\r\nHost: h\r\n";
    QTest::newRow("plain post") << line + "Content-Length: 3\r\n\r\n" << 0;
    QTest::newRow("chunked post") << line + "Transfer-Encoding: chunked\r\n\r\n" << 0;
    QTest::newRow("get without length") << QByteArray("GET /x HTTP/1.1\r\nHost: h\r\n\r\n") << 0;
    QTest::newRow("both lengths") << line + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n" << 400;
    QTest::newRow("space before colon") << line + "Transfer-Encoding : chunked\r\nContent-Length: 3\r\n\r\n" << 400;
    QTest::newRow("two codings") << line + "Transfer-Encoding: chunked\r\nTransfer-Encoding: identity\r\n\r\n" << 400;
    QTest::newRow("coding list") << line + "Transfer-Encoding: gzip, chunked\r\n\r\n" << 400;
    QTest::newRow("two lengths") << line + "Content-Length: 3\r\nContent-Length: 3\r\n\r\n" << 400;
    QTest::newRow("signed length") << line + "Content-Length: +3\r\n\r\n" << 400;
    QTest::newRow("post without length") << line + "\r\n" << 411;
    QTest::newRow("bare cr") << line + "X-A: a\rb\r\nContent-Length: 0\r\n\r\n" << 400;
    QTest::newRow("bare lf") << QByteArray("POST /x HTTP/1.1\nHost: h\r\nContent-Length: 0\r\n\r\n") << 400;
    QTest::newRow("folded line") << line + "X-A: a\r\n b\r\nContent-Length: 0\r\n\r\n" << 400;
    QTest::newRow("no host") << QByteArray("POST /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << 400;
    QTest::newRow("two hosts") << line + "Host: i\r\nContent-Length: 0\r\n\r\n" << 400;
    QTest::newRow("nul in value") << line + QByteArray("X-A: a\0b\r\nContent-Length: 0\r\n\r\n", 36) << 400;
    QTest::newRow("absolute target") << QByteArray("GET http://h/x HTTP/1.1\r\nHost: h\r\n\r\n") << 400;
    QTest::newRow("old protocol") << QByteArray("GET /x HTTP/0.9\r\nHost: h\r\n\r\n") << 400;
    QTest::newRow("chunked on 1.0") << QByteArray("POST /x HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n") << 400;
}

void TestHttpLayer::heads()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    const auto refused = parseHead(head);
    QCOMPARE(refused ? httpRefusal(*refused).status : 0, status);
}

void TestHttpLayer::headFacts()
{
    RequestHead h;
    QVERIFY(!parseHead("POST /a?b HTTP/1.1\r\nhost: h\r\ncontent-length: 99999999999999999999999\r\n"
                       "Authorization: Bearer t\r\nAccept-Encoding: gzip\r\nAccept-Encoding: zstd\r\n"
                       "Connection: close\r\nExpect: 100-continue\r\n\r\n",
                       &h));
    QCOMPARE(*h.contentLength, UINT64_MAX); // never wraps to a small length
    QCOMPARE(h.authorization, std::string("Bearer t"));
    QCOMPARE(h.acceptEncoding, std::string("gzip,zstd"));
    QVERIFY(!h.keepAlive);
    QVERIFY(h.expectContinue);
    QVERIFY(!parseHead("GET / HTTP/1.0\r\n\r\n", &h));
    QVERIFY(!h.keepAlive); // 1.0 closes unless asked otherwise
    QVERIFY(!parseHead("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", &h));
    QVERIFY(h.keepAlive);

    // A client's address comes from X-Forwarded-For only through a trusted
    // proxy, and then only the part that proxy appended.
    QVERIFY(!parseHead("GET / HTTP/1.1\r\nHost: h\r\nX-Forwarded-For: 6.6.6.6, 10.0.0.7\r\n\r\n", &h));
    QCOMPARE(h.clientAddress("127.0.0.1", {"127.0.0.1"}), std::string("10.0.0.7"));
    QCOMPARE(h.clientAddress("10.9.9.9", {"127.0.0.1"}), std::string("10.9.9.9"));
    QVERIFY(!parseHead("GET / HTTP/1.1\r\nHost: h\r\n\r\n", &h));
    QCOMPARE(h.clientAddress("127.0.0.1", {"127.0.0.1"}), std::string("127.0.0.1"));
}

void TestHttpLayer::inflation()
{
    using HttpCompression::Inflated;
    const QByteArray text(100000, 'a');
    QByteArray out;
    QCOMPARE(HttpCompression::inflate("gzip", gzip(text).toStdString(), 100000, out), Inflated::Ok);
    QCOMPARE(out, text);
    // One byte over the limit is refused, having held no more than that.
    QCOMPARE(HttpCompression::inflate("gzip", gzip(text).toStdString(), 99999, out), Inflated::TooLarge);
    QVERIFY(out.isEmpty());
    QCOMPARE(HttpCompression::inflate("GZIP", "not gzip", 1000, out), Inflated::Bad);
    QCOMPARE(HttpCompression::inflate("gzip", gzip(text).left(100).toStdString(), 100000, out), Inflated::Bad);
    QCOMPARE(HttpCompression::inflate("gzip", QByteArray(gzip(text) + "trailing").toStdString(), 100000, out), Inflated::Bad);
    QCOMPARE(HttpCompression::inflate("br", "x", 1000, out), Inflated::Bad);
    QCOMPARE(HttpCompression::inflate("", "abc", 2, out), Inflated::TooLarge);

    // The memory budget is asked before each step, and what was not used comes back.
    long long held = 0, peak = 0;
    auto grow = [&](long long n) {
        if (held + n > 64 * 1024)
            return false;
        held += n;
        peak = std::max(peak, held);
        return true;
    };
    QCOMPARE(HttpCompression::inflate("gzip", gzip(QByteArray(1 << 20, 'b')).toStdString(), 16 << 20, out, grow),
             Inflated::NoMemory);
    QVERIFY(peak <= 64 * 1024);
    held = 0;
    QCOMPARE(HttpCompression::inflate("gzip", gzip(QByteArray(5000, 's')).toStdString(), 10000, out, grow), Inflated::Ok);
    QCOMPARE(held, 5000LL);
    QVERIFY(HttpCompression::isReadable(" Deflate ") && HttpCompression::isReadable("") && !HttpCompression::isReadable("br"));
}

void TestHttpLayer::acceptEncoding()
{
    using HttpCompression::Coding;
    QCOMPARE(HttpCompression::choose("gzip, zstd", 5000), Coding::Zstd);
    QCOMPARE(HttpCompression::choose("gzip;q=0.5, zstd;q=0", 5000), Coding::Gzip);
    QCOMPARE(HttpCompression::choose("GZIP", 5000), Coding::Gzip);
    QCOMPARE(HttpCompression::choose("gzip", 100), Coding::Identity); // not worth it
    QCOMPARE(HttpCompression::choose("br", 5000), Coding::Identity);
    QCOMPARE(HttpCompression::choose("", 5000), Coding::Identity);
    QByteArray packed;
    const QByteArray json = QByteArray("{\"a\":1}").repeated(1000);
    QVERIFY(HttpCompression::compress(Coding::Gzip, json, packed) && packed.size() < json.size() / 10);
    QVERIFY(!HttpCompression::compress(Coding::Zstd, "x", packed)); // grew: sent as it is
}

void TestHttpLayer::admissionAndEviction()
{
    using Phase = ConnectionTable::Phase;
    using Verdict = ConnectionTable::Verdict;
    const auto t0 = ConnectionTable::Clock::now();
    auto at = [t0](int s) { return t0 + std::chrono::seconds(s); };
    ConnectionTable table(4, 2);
    std::vector<int> closed;
    auto closer = [&closed](int n) { return [&closed, n] { closed.push_back(n); }; };
    Verdict v;
    const auto a = table.admit("A", closer(1), at(0), &v);
    const auto b = table.admit("A", closer(2), at(1), &v);
    QVERIFY(a && b && v == Verdict::Admitted);
    QCOMPARE(table.admit("A", closer(9), at(2), &v), 0u); // the address is full: no eviction for it
    QCOMPARE(v, Verdict::AddressFull);
    const auto c = table.admit("B", closer(3), at(2));
    const auto d = table.admit("C", closer(4), at(3));
    // Full: requests running or replies going out are never closed; the
    // connection waiting longest (here a's head since 0 s, b idle since 5 s) is.
    table.setPhase(c, Phase::Working, at(4));
    table.setPhase(d, Phase::Writing, at(4));
    table.setPhase(b, Phase::Idle, at(5));
    table.setPhase(a, Phase::Head, at(0));
    QVERIFY(table.admit("D", closer(5), at(6), &v));
    QCOMPARE(v, Verdict::Evicted);
    QCOMPARE(closed, std::vector<int>{1});
    QCOMPARE(table.openFrom("A"), 1);
    table.release(a); // the evicted connection ending later changes nothing
    QCOMPARE(table.open(), 4);
    // A slow body goes only when nobody waits idle or in a head.
    table.setPhase(b, Phase::Body, at(7));
    const auto e = table.admit("E", closer(6), at(8), &v);
    QVERIFY(e);
    QCOMPARE(closed.back(), 5); // D, still idle since 6 s
    table.setPhase(e, Phase::Working, at(8));
    QVERIFY(table.admit("F", closer(7), at(9)));
    QCOMPARE(closed.back(), 2); // b's body
    // Nothing left to close: turned away.
    table.setPhase(table.admit("G", closer(8), at(9)), Phase::Working, at(9)); // F went for it
    QCOMPARE(table.admit("H", closer(10), at(10), &v), 0u);
    QCOMPARE(v, Verdict::Full);
    table.evictWaiting();
    QCOMPARE(table.open(), 4);
}

void TestHttpLayer::workerFaultsAndQueue()
{
    std::atomic<int> faults{0}, done{0};
    std::string lastFault;
    std::mutex m;
    {
        WorkerPool pool(2, 1000);
        for (int i = 0; i < 1000; ++i) {
            QVERIFY(pool.submit(
                [i, &done] {
                    if (i % 2)
                        throw std::runtime_error("boom");
                    if (i % 10 == 4)
                        throw 42; // not even an exception class
                    ++done;
                },
                [&](const std::string &what) {
                    std::lock_guard lock(m);
                    lastFault = what;
                    ++faults;
                }));
        }
    } // joins after the queue ran dry
    QCOMPARE(faults.load(), 600);
    QCOMPARE(done.load(), 400);
    QVERIFY(lastFault == "boom" || lastFault == "unknown exception");

    // A bounded queue: with the only worker held, one job waits and the next is refused.
    std::mutex gate;
    std::unique_lock hold(gate);
    std::atomic<bool> started{false};
    WorkerPool pool(1, 1);
    QVERIFY(pool.submit([&] { started = true; std::lock_guard wait(gate); }, {}));
    QTRY_VERIFY(started.load());
    QVERIFY(pool.submit([] {}, {}));
    QVERIFY(!pool.submit([] {}, {}));
    hold.unlock();
}

void TestHttpLayer::rateWindow()
{
    const auto t0 = RateMeter::Clock::now();
    auto at = [t0](double s) { return t0 + std::chrono::milliseconds(qint64(s * 1000)); };
    RateMeter fast(1000, 5);
    fast.start(at(0));
    for (int s = 0; s < 20; ++s)
        fast.add(1000, at(s + 0.5));
    QVERIFY(!fast.tooSlow(at(20)));
    // A peer that sent a lot at first and then stopped is cut once a whole
    // window passes without enough, whatever it sent before.
    RateMeter stalled(1000, 5);
    stalled.start(at(0));
    stalled.add(1000000, at(0.1));
    QVERIFY(!stalled.tooSlow(at(4.9))); // the first window is never judged
    QVERIFY(stalled.tooSlow(at(6.5)));
    // A trickle below the rate is cut too.
    RateMeter trickle(1000, 5);
    trickle.start(at(0));
    for (int s = 0; s < 10; ++s)
        trickle.add(500, at(s));
    QVERIFY(trickle.tooSlow(at(10)));
}

QTEST_GUILESS_MAIN(TestHttpLayer)
#include "tst_appserver_httplayer.moc"
