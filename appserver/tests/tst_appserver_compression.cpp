// How the real server compresses its answers: zstd when the client takes it,
// else gzip at its fastest level, never brotli; small answers and clients that
// take neither get plain JSON; every compressed body unpacks to the plain one.
#include <httplib.h>
#include <zlib.h>
#define ZSTD_STATIC_LINKING_ONLY // ZSTD_findDecompressedSize
#include <zstd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray gunzip(const std::string &in)
{
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK)
        return {};
    QByteArray out;
    char buf[65536];
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = uInt(in.size());
    int r;
    do {
        z.next_out = reinterpret_cast<Bytef *>(buf);
        z.avail_out = sizeof buf;
        r = inflate(&z, Z_NO_FLUSH);
        out.append(buf, qsizetype(sizeof buf - z.avail_out));
    } while (r == Z_OK);
    inflateEnd(&z);
    return r == Z_STREAM_END ? out : QByteArray();
}

// A reply may be several frames one after another (a cached answer's
// payload is packed once, the reply's own head and tail apart).
QByteArray unzstd(const std::string &in)
{
    const unsigned long long size = ZSTD_findDecompressedSize(in.data(), in.size());
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
        return {};
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    const size_t n = ZSTD_decompress(out.data(), size_t(out.size()), in.data(), in.size());
    return ZSTD_isError(n) || n != size ? QByteArray() : out;
}

} // namespace

class TestCompression final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void codings_data();
    void codings();
    void smallAnswersGoPlain();
    void cleanupTestCase();

private:
    httplib::Result call(const char *method, const std::string &acceptEncoding);

    QTemporaryDir m_dir;
    QProcess m_server;
    int m_port = 0;
    std::string m_token;
    QByteArray m_plain;
};

void TestCompression::initTestCase()
{
    m_server.start(VOR_SERVER_BIN, {"--database", "sqlite:" + m_dir.filePath("c.sqlite"), "--demo", "--listen",
                                    "127.0.0.1:0"});
    QVERIFY(m_server.waitForStarted());
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += m_server.readAllStandardOutput()).contains('\n'), 30000);
    m_port = out.mid(out.lastIndexOf(':') + 1).trimmed().toInt();
    QVERIFY(m_port > 0);
    httplib::Client c("127.0.0.1", m_port);
    const httplib::Result login = c.Post("/session", R"({"operator":"ANA","password":"ana123"})", "application/json");
    QVERIFY(login && login->status == 200);
    m_token = QJsonDocument::fromJson(QByteArray::fromStdString(login->body))
                  .object()
                  .value(QStringLiteral("token"))
                  .toString()
                  .toStdString();
    const httplib::Result plain = call("getConcAtivPro", "");
    QVERIFY(plain && plain->status == 200);
    QVERIFY(!plain->has_header("Content-Encoding"));
    m_plain = QByteArray::fromStdString(plain->body);
    QVERIFY2(m_plain.size() > 2048 && m_plain.contains("\"payload\""), m_plain.left(200).constData());
}

httplib::Result TestCompression::call(const char *method, const std::string &acceptEncoding)
{
    httplib::Client c("127.0.0.1", m_port);
    c.set_decompress(false);
    httplib::Headers headers{{"Authorization", "Bearer " + m_token}};
    if (!acceptEncoding.empty())
        headers.emplace("Accept-Encoding", acceptEncoding);
    const std::string body = std::string(R"({"jsonrpc":"2.0","id":1,"method":")") + method
                             + R"(","params":["0001","0000000001"]})";
    return c.Post("/VOR01300.rdmConcAtivProje", headers, body, "application/json");
}

void TestCompression::codings_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the host's list") << "zstd, br, gzip, deflate" << "zstd";
    QTest::newRow("gzip alone") << "gzip" << "gzip";
    QTest::newRow("upper case, spaces") << " GZIP ,deflate" << "gzip";
    QTest::newRow("zstd refused by q=0") << "zstd;q=0, gzip" << "gzip";
    QTest::newRow("gzip with a weight") << "br, gzip;q=0.5" << "gzip";
    QTest::newRow("brotli alone") << "br" << "";
    QTest::newRow("deflate alone") << "deflate" << "";
    QTest::newRow("everything refused") << "gzip;q=0, zstd; q=0" << "";
    QTest::newRow("identity") << "identity" << "";
}

void TestCompression::codings()
{
    QFETCH(QString, offered);
    QFETCH(QString, expected);
    const httplib::Result r = call("getConcAtivPro", offered.toStdString());
    QVERIFY(r && r->status == 200);
    QCOMPARE(QString::fromStdString(r->get_header_value("Content-Encoding")), expected);
    const QByteArray body = expected == QLatin1String("zstd")   ? unzstd(r->body)
                            : expected == QLatin1String("gzip") ? gunzip(r->body)
                                                                : QByteArray::fromStdString(r->body);
    QCOMPARE(body, m_plain);
    if (!expected.isEmpty())
        QVERIFY(r->body.size() < size_t(m_plain.size()) / 2);
}

void TestCompression::smallAnswersGoPlain()
{
    const httplib::Result r = call("getPlanProj", "zstd, br, gzip, deflate");
    QVERIFY(r && r->status == 200);
    QVERIFY(r->body.size() < 1024);
    QVERIFY(!r->has_header("Content-Encoding"));
    QVERIFY(QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).isObject());
}

void TestCompression::cleanupTestCase()
{
    m_server.terminate();
    m_server.waitForFinished(10000);
}

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_appserver_compression.moc"
