// Data layer under a full activity list: 100,000 rows x 23 fields.
// Run: build/bin/bench_dataset [-iterations N]
#include "ClientDataSet.h"
#include "FilterExpr.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

constexpr int kRows = 100000;

struct Column
{
    const char *name;
    TFieldType type;
    int size;
};

const Column kColumns[] = {
    {"IDCHECK", TFieldType::FixedString, 1},   {"SITUACAO", TFieldType::FixedString, 1},
    {"CDFILIAL", TFieldType::String, 4},       {"CDPROJETO", TFieldType::String, 10},
    {"NRTAREFA", TFieldType::String, 10},      {"NRPLATIVTARE", TFieldType::String, 10},
    {"DSATIVIDADE", TFieldType::String, 60},   {"CDOPERADOR", TFieldType::String, 10},
    {"NMOPERADOR", TFieldType::String, 40},    {"CDITEMTRAB", TFieldType::String, 10},
    {"DSITEMTRAB", TFieldType::String, 40},    {"STAPROVACAO", TFieldType::String, 1},
    {"QTTEMPLAITAR", TFieldType::Float, 0},    {"QTTEMPAPROP", TFieldType::Float, 0},
    {"VRPERCCONCL", TFieldType::Float, 0},     {"VRPERCPLAN", TFieldType::Float, 0},
    {"QTHORASDIA", TFieldType::Float, 0},      {"NRSEQUENCIA", TFieldType::Float, 0},
    {"VRCUSTO", TFieldType::Float, 0},         {"DTHRINICIO", TFieldType::DateTime, 0},
    {"DTHRFIM", TFieldType::DateTime, 0},      {"DTHRINIPLAN", TFieldType::DateTime, 0},
    {"DTHRFIMPLAN", TFieldType::DateTime, 0},
};

QByteArray makePacket()
{
    QJsonArray fields;
    for (const Column &c : kColumns) {
        QJsonObject f{{"name", c.name}, {"type", fieldTypeName(c.type)}};
        if (c.size)
            f.insert("size", c.size);
        fields.append(f);
    }
    QJsonArray rows;
    for (int r = 0; r < kRows; ++r) {
        QJsonArray row;
        for (const Column &c : kColumns) {
            switch (c.type) {
            case TFieldType::FixedString:
                row.append(r % 3 == 0 ? "S" : "N");
                break;
            case TFieldType::String:
                row.append(c.size <= 10 ? QString::number(r % 100000).rightJustified(qMin(c.size, 10), '0').right(c.size)
                                        : QStringLiteral("Atividade de teste número %1").arg(r).left(c.size));
                break;
            case TFieldType::Float:
                row.append(r % 7 == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(r * 0.25));
                break;
            case TFieldType::DateTime:
                row.append(r % 5 == 0 ? QJsonValue(QJsonValue::Null)
                                      : QJsonValue(QStringLiteral("2026-%1-%2T08:30:00")
                                                       .arg(1 + r % 12, 2, 10, QLatin1Char('0'))
                                                       .arg(1 + r % 28, 2, 10, QLatin1Char('0'))));
                break;
            }
        }
        rows.append(row);
    }
    return QJsonDocument(QJsonObject{{"fields", fields}, {"rows", rows}}).toJson(QJsonDocument::Compact);
}

void declare(TClientDataSet &cds)
{
    for (const Column &c : kColumns)
        cds.AddField(QLatin1String(c.name), c.type, c.size);
}

} // namespace

class BenchDataSet : public QObject
{
    Q_OBJECT

    QByteArray m_bytes;
    QJsonObject m_packet;

private Q_SLOTS:
    void initTestCase()
    {
        m_bytes = makePacket();
        m_packet = QJsonDocument::fromJson(m_bytes).object();
        qInfo("packet: %d rows, %d fields, %.1f MB of JSON", kRows, int(std::size(kColumns)),
              m_bytes.size() / 1e6);
    }

    void parseJsonOnly()
    {
        QBENCHMARK {
            const QJsonDocument doc = QJsonDocument::fromJson(m_bytes);
            QVERIFY(doc.isObject());
        }
    }

    void setDataFromParsedJson()
    {
        TClientDataSet cds;
        declare(cds);
        QBENCHMARK {
            cds.SetData(m_packet);
        }
        QCOMPARE(cds.RecordCount(), kRows);
    }

    void setDataFromBytes()
    {
        TClientDataSet cds;
        declare(cds);
        QBENCHMARK {
            cds.SetData(QJsonDocument::fromJson(m_bytes).object());
        }
        QCOMPARE(cds.RecordCount(), kRows);
    }

    void filterPass()
    {
        TClientDataSet cds;
        declare(cds);
        cds.SetData(m_packet);
        cds.SetFilter(QStringLiteral("IDCHECK = 'S' AND (QTTEMPLAITAR > 100 OR DTHRINICIO IS NULL)"));
        int visible = 0;
        QBENCHMARK {
            cds.SetFiltered(true);
            visible = cds.RecordCount();
            cds.SetFiltered(false);
        }
        QVERIFY(visible > 0 && visible < kRows);
    }

    void delta1000Changes()
    {
        TClientDataSet cds;
        declare(cds);
        cds.SetData(m_packet);
        TField *check = cds.FieldByName(QStringLiteral("IDCHECK"));
        for (int i = 0; i < 1000; ++i) {
            cds.SetRecNo(1 + i * 97);
            cds.Edit();
            check->SetAsString(check->AsString() == QLatin1String("S") ? QStringLiteral("N") : QStringLiteral("S"));
            cds.Post();
        }
        QByteArray bytes;
        QBENCHMARK {
            bytes = QJsonDocument(cds.DeltaJson()).toJson(QJsonDocument::Compact);
        }
        QCOMPARE(cds.ChangeCount(), 1000);
    }

    void dataCopy()
    {
        TClientDataSet cds;
        declare(cds);
        cds.SetData(m_packet);
        TClientDataSet copy;
        declare(copy);
        QBENCHMARK {
            copy.SetData(cds.Data());
        }
        QCOMPARE(copy.RecordCount(), kRows);
    }
};

QTEST_GUILESS_MAIN(BenchDataSet)
#include "bench_dataset.moc"
