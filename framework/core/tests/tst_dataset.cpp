#include "ClientDataSet.h"
#include "DataSource.h"
#include "Errors.h"
#include "NumberFormat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

// Activities as the server sends them, plus a column the client does not declare.
const char *kActivities = R"({
 "fields":[{"name":"IDCHECK","type":"fixedstring","size":1},
           {"name":"NRTAREFA","type":"string","size":10},
           {"name":"QTTEMPLAITAR","type":"float"},
           {"name":"DTHRINICIO","type":"datetime"},
           {"name":"EXTRA","type":"string"}],
 "rows":[["N","0001",1.5,"2026-01-05T08:00:00","a"],
         ["N","0002",null,null,"b"],
         ["S","0003",12.25,"2026-02-28T17:30:15",null]]})";

struct Activities
{
    TClientDataSet cds;
    TField *check;
    TField *task;
    TField *hours;
    TField *start;

    Activities()
    {
        cds.setObjectName(QStringLiteral("cdsConcAtivProj"));
        check = cds.AddField(QStringLiteral("IDCHECK"), TFieldType::FixedString, 1);
        task = cds.AddField(QStringLiteral("NRTAREFA"), TFieldType::String, 10);
        hours = cds.AddField(QStringLiteral("QTTEMPLAITAR"), TFieldType::Float);
        start = cds.AddField(QStringLiteral("DTHRINICIO"), TFieldType::DateTime);
    }
    void load(const char *packet = kActivities) { cds.SetData(json(packet)); }
    void toggle()
    {
        cds.Edit();
        check->SetAsString(check->AsString() == QLatin1String("S") ? QStringLiteral("N") : QStringLiteral("S"));
        cds.Post();
    }
};

template <typename F>
QString errorOf(F &&f)
{
    try {
        f();
    } catch (const EVorError &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TstDataSet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void packetRoundTrip()
    {
        Activities a;
        a.load();
        QCOMPARE(a.cds.DataJson(), json(kActivities));
        QCOMPARE(DataPacket::fromJson(a.cds.DataJson()).toJson(), json(kActivities));

        // A copy of the data carries the extra column into another dataset.
        TClientDataSet copy;
        copy.AddField(QStringLiteral("NRTAREFA"), TFieldType::String, 10);
        copy.SetData(a.cds.Data());
        QCOMPARE(copy.RecordCount(), 3);
        QVERIFY(copy.Data().indexOf(QStringLiteral("EXTRA")) >= 0);
        QVERIFY(!copy.FindField(QStringLiteral("EXTRA")));

        a.toggle();
        const QJsonObject delta = a.cds.DeltaJson();
        QCOMPARE(ChangeLogPacket::fromJson(delta).toJson(), delta);
    }

    void fieldReads()
    {
        Activities a;
        a.load();
        QCOMPARE(a.hours->AsString(), QStringLiteral("1,5"));
        QCOMPARE(a.hours->AsFloat(), 1.5);
        QCOMPARE(a.start->AsString(), QStringLiteral("05/01/2026 08:00:00"));
        QCOMPARE(a.start->AsDateTime().time(), QTime(8, 0));
        a.cds.Next();
        QVERIFY(a.hours->IsNull());
        QCOMPARE(a.hours->AsString(), QString());
        QCOMPARE(a.hours->AsFloat(), 0.0);
        QVERIFY(!a.start->AsDateTime().isValid());
        QCOMPARE(a.start->AsString(), QString());

        a.cds.Close();
        QVERIFY(a.cds.IsEmpty());
        QCOMPARE(a.check->AsString(), QString());
    }

    void textHookAndDisplayFormat()
    {
        Activities a;
        a.load();
        a.hours->DisplayFormat = QStringLiteral("0.00");
        QCOMPARE(a.hours->DisplayText(), QStringLiteral("1,50"));
        QCOMPARE(a.hours->Text(), QStringLiteral("1,5"));

        QList<bool> flags;
        a.hours->OnGetText = [&](TField &f, QString &text, bool display) {
            flags << display;
            text = f.AsString() + QLatin1Char('%');
        };
        QCOMPARE(a.hours->DisplayText(), QStringLiteral("1,5%"));
        QCOMPARE(a.hours->Text(), QStringLiteral("1,5%"));
        QCOMPARE(flags, (QList<bool>{true, false}));
    }

    void changeLog()
    {
        Activities a;
        a.load();
        a.toggle();           // row 1 marked
        a.cds.Next();
        a.toggle();           // row 2 marked ...
        a.toggle();           // ... and unmarked again
        a.cds.Next();         // row 3 untouched
        QCOMPARE(a.cds.ChangeCount(), 2);

        const ChangeLogPacket log = a.cds.Delta();
        QCOMPARE(log.changes.size(), size_t(2));
        const int check = 0, task = 1;
        QCOMPARE(log.changes[0].before[check].toString(), QStringLiteral("N"));
        QCOMPARE(log.changes[0].after[check].toString(), QStringLiteral("S"));
        QCOMPARE(log.changes[0].after[task].toString(), QStringLiteral("0001"));
        QCOMPARE(log.changes[1].before[check].toString(), QStringLiteral("N"));
        QCOMPARE(log.changes[1].after[check].toString(), QStringLiteral("N"));
        QCOMPARE(log.changes[1].after[task].toString(), QStringLiteral("0002"));
        QCOMPARE(log.changes[1].after.size(), size_t(5)); // extra column travels too

        // OldValue is the loaded value whatever happened since.
        a.cds.First();
        QCOMPARE(a.check->OldValue().toString(), QStringLiteral("N"));
        QCOMPARE(a.check->AsString(), QStringLiteral("S"));

        a.cds.MergeChangeLog();
        QCOMPARE(a.cds.ChangeCount(), 0);
        QCOMPARE(a.check->OldValue().toString(), QStringLiteral("S"));

        // A new packet starts a new log.
        a.toggle();
        a.load();
        QCOMPARE(a.cds.ChangeCount(), 0);
    }

    void refusedPacketKeepsData_data()
    {
        QTest::addColumn<QString>("packet");
        QTest::addColumn<QString>("field");
        QTest::newRow("missing field")
            << R"({"fields":[{"name":"IDCHECK","type":"fixedstring","size":1},{"name":"NRTAREFA","type":"string"},
                  {"name":"QTTEMPLAITAR","type":"float"}],"rows":[]})"
            << "DTHRINICIO";
        QTest::newRow("text in a float")
            << R"({"fields":[{"name":"IDCHECK","type":"string"},{"name":"NRTAREFA","type":"string"},
                  {"name":"QTTEMPLAITAR","type":"string"},{"name":"DTHRINICIO","type":"datetime"}],
                  "rows":[["N","1",null,null],["N","2","abc",null]]})"
            << "QTTEMPLAITAR";
        QTest::newRow("too long for the field")
            << R"({"fields":[{"name":"IDCHECK","type":"string"},{"name":"NRTAREFA","type":"string"},
                  {"name":"QTTEMPLAITAR","type":"float"},{"name":"DTHRINICIO","type":"datetime"}],
                  "rows":[["SS","1",null,null]]})"
            << "IDCHECK";
        QTest::newRow("bad date-time")
            << R"({"fields":[{"name":"IDCHECK","type":"string"},{"name":"NRTAREFA","type":"string"},
                  {"name":"QTTEMPLAITAR","type":"float"},{"name":"DTHRINICIO","type":"datetime"}],
                  "rows":[["S","1",null,"2026-02-30T00:00:00"]]})"
            << "DTHRINICIO";
    }

    void refusedPacketKeepsData()
    {
        QFETCH(QString, packet);
        QFETCH(QString, field);
        Activities a;
        a.load();
        a.cds.Next();
        a.toggle();
        int scrolls = 0;
        a.cds.AfterScroll = [&](TClientDataSet &) { ++scrolls; };

        const QString error = errorOf([&] { a.cds.SetData(QJsonDocument::fromJson(packet.toUtf8()).object()); });
        QVERIFY2(error.contains(field), qPrintable(error));
        QCOMPARE(a.cds.RecordCount(), 3);
        QCOMPARE(a.cds.RecNo(), 2);
        QCOMPARE(a.cds.ChangeCount(), 1);
        QCOMPARE(a.task->AsString(), QStringLiteral("0002"));
        QCOMPARE(scrolls, 0);
    }

    void afterScroll()
    {
        Activities a;
        QStringList seen;
        a.cds.AfterScroll = [&](TClientDataSet &) { seen << a.task->AsString(); };
        a.load();
        QCOMPARE(seen, QStringList{"0001"});
        a.cds.Next();
        a.cds.Next();
        QVERIFY(!a.cds.Eof());
        a.cds.Next(); // at the last row: only Eof
        QVERIFY(a.cds.Eof());
        a.cds.First();
        QVERIFY(a.cds.Bof());
        QVERIFY(a.cds.Locate(QStringList{"NRTAREFA"}, QVariantList{"0003"}));
        QVERIFY(!a.cds.Locate(QStringList{"NRTAREFA"}, QVariantList{"9999"}));
        QVERIFY(a.cds.Locate({QStringLiteral("IDCHECK"), QStringLiteral("QTTEMPLAITAR")},
                             {QStringLiteral("N"), QVariant()}));
        QCOMPARE(seen, (QStringList{"0001", "0002", "0003", "0001", "0003", "0002"}));

        // An empty packet still reports the (empty) position once.
        seen.clear();
        a.load(R"({"fields":[{"name":"IDCHECK","type":"fixedstring","size":1},{"name":"NRTAREFA","type":"string"},
                  {"name":"QTTEMPLAITAR","type":"float"},{"name":"DTHRINICIO","type":"datetime"}],"rows":[]})");
        QCOMPARE(seen, QStringList{QString()});
        QVERIFY(a.cds.IsEmpty());
        QVERIFY(a.cds.Eof() && a.cds.Bof());
        QCOMPARE(a.cds.RecNo(), 0);
    }

    void stateChangesInOrder()
    {
        Activities a;
        TDataSource ds;
        QList<int> states;
        ds.OnStateChange = [&](QObject *sender) {
            QCOMPARE(sender, &ds);
            states << ds.state();
        };
        ds.SetDataSet(&a.cds);
        a.load();
        a.cds.Edit();
        a.cds.Post();
        a.cds.Edit();
        a.cds.Cancel();
        a.cds.Close();
        QCOMPARE(states, (QList<int>{TDataSource::dsBrowse, TDataSource::dsEdit, TDataSource::dsBrowse,
                                     TDataSource::dsEdit, TDataSource::dsBrowse, TDataSource::dsInactive}));

        // A handler's exception reaches the code that changed the state.
        a.load();
        ds.OnStateChange = [](QObject *) { throw EAbort(); };
        QVERIFY_THROWS_EXCEPTION(EAbort, a.cds.Edit());
        QCOMPARE(a.cds.state(), TClientDataSet::State::Edit);

        // A data source that goes away stops listening.
        {
            TDataSource other;
            other.SetDataSet(&a.cds);
            other.OnStateChange = [](QObject *) { QFAIL("destroyed data source notified"); };
        }
        ds.OnStateChange = nullptr;
        a.cds.Cancel();
    }

    void editRules()
    {
        Activities a;
        a.load();
        QVERIFY(!errorOf([&] { a.check->SetAsString(QStringLiteral("S")); }).isEmpty());

        a.cds.Edit();
        QVERIFY(!errorOf([&] { a.check->SetAsString(QStringLiteral("SS")); }).isEmpty());
        a.hours->SetAsString(QStringLiteral("3,75"));
        QCOMPARE(a.hours->AsFloat(), 3.75);
        QVERIFY(!errorOf([&] { a.hours->SetAsString(QStringLiteral("3.75x")); }).isEmpty());
        a.hours->SetAsString(QString());
        QVERIFY(a.hours->IsNull());
        a.start->SetAsString(QStringLiteral("10/03/2026 09:15:00"));
        QCOMPARE(a.start->AsString(), QStringLiteral("10/03/2026 09:15:00"));
        a.task->ReadOnly = true;
        QVERIFY(!errorOf([&] { a.task->SetAsString(QStringLiteral("X")); }).isEmpty());

        // Moving the cursor posts the pending edit.
        int posts = 0;
        a.cds.AfterPost = [&](TClientDataSet &) { ++posts; };
        a.cds.Next();
        QCOMPARE(posts, 1);
        QCOMPARE(a.cds.state(), TClientDataSet::State::Browse);
        a.cds.First();
        QVERIFY(a.hours->IsNull());
        QCOMPARE(a.hours->OldValue().toDouble(), 1.5);

        // Cancel restores the row.
        a.cds.Edit();
        a.check->SetAsString(QStringLiteral("S"));
        a.cds.Cancel();
        QCOMPARE(a.check->AsString(), QStringLiteral("N"));

        a.cds.ReadOnly = true;
        QVERIFY(!errorOf([&] { a.cds.Edit(); }).isEmpty());
    }

    void filtering()
    {
        Activities a;
        a.load();
        int scrolls = 0;
        a.cds.AfterScroll = [&](TClientDataSet &) { ++scrolls; };

        a.cds.SetFilter(QStringLiteral("DTHRINICIO IS NOT NULL"));
        QCOMPARE(a.cds.RecordCount(), 3); // text set, switch still off
        QCOMPARE(scrolls, 0);
        a.cds.SetFiltered(true);
        QCOMPARE(a.cds.RecordCount(), 2);
        QCOMPARE(scrolls, 1);
        a.cds.SetFilter(QStringLiteral("qttemplaitar >= 12 OR nrtarefa = '0002'"));
        QCOMPARE(a.cds.RecordCount(), 2);
        QCOMPARE(a.task->AsString(), QStringLiteral("0002"));

        a.cds.SetFilter(QStringLiteral("IDCHECK = 'S'"));
        QCOMPARE(a.cds.RecordCount(), 1);
        // A posted row that leaves the filter leaves the view; the log sees every row.
        a.toggle();
        QVERIFY(a.cds.IsEmpty());
        QCOMPARE(a.cds.Delta().changes.size(), size_t(1));
        a.cds.SetFiltered(false);
        QCOMPARE(a.cds.RecordCount(), 3);

        const QString unknown = errorOf([&] { a.cds.SetFilter(QStringLiteral("NOSUCH = 'x'")); });
        QVERIFY2(unknown.contains(QLatin1String("NOSUCH")), qPrintable(unknown));
        QCOMPARE(a.cds.Filter(), QStringLiteral("IDCHECK = 'S'"));
        QVERIFY(!errorOf([&] { a.cds.SetFilter(QStringLiteral("IDCHECK = ")); }).isEmpty());
    }

    void disableControls()
    {
        Activities a;
        a.load();
        QSignalSpy reset(&a.cds, &TClientDataSet::dataSetChanged);
        QSignalSpy moved(&a.cds, &TClientDataSet::cursorMoved);
        QSignalSpy record(&a.cds, &TClientDataSet::recordChanged);
        QSignalSpy state(&a.cds, &TClientDataSet::stateChanged);
        int scrolls = 0;
        a.cds.AfterScroll = [&](TClientDataSet &) { ++scrolls; };

        a.cds.DisableControls();
        a.cds.DisableControls();
        a.cds.Next();
        a.toggle();
        a.cds.SetFilter(QStringLiteral("IDCHECK = 'S'"));
        a.cds.SetFiltered(true);
        a.cds.EnableControls();
        QVERIFY(a.cds.ControlsDisabled());
        QCOMPARE(reset.count() + moved.count() + record.count(), 0);
        a.cds.EnableControls();
        QVERIFY(!a.cds.ControlsDisabled());
        QCOMPARE(reset.count(), 1);
        QCOMPARE(moved.count() + record.count(), 0);
        QCOMPARE(state.count(), 2); // edit and post still reported
        QCOMPARE(scrolls, 2);       // Next and the filter's move to the first row

        a.cds.Next();
        QCOMPARE(moved.count(), 1);
    }

    void readRowWithoutScrolling()
    {
        Activities a;
        a.load();
        int scrolls = 0;
        a.cds.AfterScroll = [&](TClientDataSet &) { ++scrolls; };
        const int token = a.cds.setActiveRecordForRead(2);
        QCOMPARE(a.task->AsString(), QStringLiteral("0003"));
        const int inner = a.cds.setActiveRecordForRead(1);
        QCOMPARE(a.task->AsString(), QStringLiteral("0002"));
        a.cds.restoreActiveRecord(inner);
        QCOMPARE(a.task->AsString(), QStringLiteral("0003"));
        a.cds.restoreActiveRecord(token);
        QCOMPARE(a.task->AsString(), QStringLiteral("0001"));
        QCOMPARE(a.cds.valueAt(1, 1).toString(), QStringLiteral("0002"));
        QCOMPARE(scrolls, 0);
    }

    // A reload replaces an open list: whoever derives commands from the state
    // hears it as an open, before the move to the first row.
    void replacingOpenDataNotifiesState()
    {
        Activities a;
        TDataSource ds;
        QStringList events;
        ds.OnStateChange = [&](QObject *) { events << QStringLiteral("state %1").arg(ds.state()); };
        a.cds.AfterScroll = [&](TClientDataSet &) { events << QStringLiteral("scroll"); };
        ds.SetDataSet(&a.cds);
        a.load();
        QCOMPARE(events, QStringList({"state 1", "scroll"}));
        events.clear();
        a.load();
        QCOMPARE(events, QStringList({"state 1", "scroll"}));
        events.clear();
        // New rows never drop a pending edit unseen: the load is refused and
        // the edit, typed value included, stays.
        a.cds.Edit();
        a.cds.FieldByName(QStringLiteral("IDCHECK"))->SetAsString(QStringLiteral("S"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, a.load());
        QCOMPARE(a.cds.state(), TClientDataSet::State::Edit);
        QCOMPARE(a.cds.FieldByName(QStringLiteral("IDCHECK"))->AsString(), QStringLiteral("S"));
        QCOMPARE(events, QStringList({"state 2"}));
        a.cds.Cancel();
        events.clear();
        a.load();
        QCOMPARE(events, QStringList({"state 1", "scroll"}));
        QCOMPARE(a.cds.state(), TClientDataSet::State::Browse);
    }

    // The packet the rows came from, handed again (an answer the server
    // found unchanged), is a load like any other: the cursor on the first
    // row, and a row changed since has the packet's values again.
    void theSamePacketAgain()
    {
        Activities a;
        const QJsonValue packet = json(kActivities);
        a.cds.SetData(packet);
        a.cds.Last();
        a.cds.SetData(packet);
        QCOMPARE(a.cds.currentIndex(), 0);
        a.cds.Next();
        a.toggle();
        a.cds.MergeChangeLog();
        QCOMPARE(a.check->AsString(), QStringLiteral("S"));
        a.cds.SetData(packet);
        QCOMPARE(a.cds.currentIndex(), 0);
        a.cds.Next();
        QCOMPARE(a.check->AsString(), QStringLiteral("N"));
        QCOMPARE(a.cds.ChangeCount(), 0);
        // Closed in between: the rows are loaded again.
        a.cds.Close();
        a.cds.SetData(packet);
        QCOMPARE(a.cds.RecordCount(), 3);
    }

    // Without declared fields, the data brings its own: a copy of another
    // dataset can be read and filtered by name, and a second packet with other
    // fields replaces them.
    void fieldsFromData()
    {
        Activities a;
        a.load();
        a.toggle(); // first row "S"
        TClientDataSet copy;
        copy.SetData(a.cds.Data());
        QCOMPARE(copy.FieldCount(), 5);
        QCOMPARE(copy.FieldByName(QStringLiteral("NRTAREFA"))->AsString(), QStringLiteral("0001"));
        QCOMPARE(copy.FieldByName(QStringLiteral("extra"))->AsString(), QStringLiteral("a"));
        QCOMPARE(copy.FieldByName(QStringLiteral("QTTEMPLAITAR"))->DataType(), TFieldType::Float);
        QCOMPARE(copy.FieldByName(QStringLiteral("DTHRINICIO"))->AsDateTime(),
                 QDateTime(QDate(2026, 1, 5), QTime(8, 0), Qt::UTC));
        copy.SetFilter(QStringLiteral("IDCHECK = 'S'"));
        copy.SetFiltered(true);
        QCOMPARE(copy.RecordCount(), 2);
        QCOMPARE(copy.FieldByName(QStringLiteral("NRTAREFA"))->AsString(), QStringLiteral("0001"));
        copy.SetFiltered(false);

        // The same fields again keep their objects; other fields replace them.
        TField *task = copy.FieldByName(QStringLiteral("NRTAREFA"));
        copy.SetData(a.cds.Data());
        QCOMPARE(copy.FieldByName(QStringLiteral("NRTAREFA")), task);
        copy.SetData(json(R"({"fields":[{"name":"CODIGO","type":"string","size":4}],"rows":[["X1"]]})"));
        QCOMPARE(copy.FieldCount(), 1);
        QVERIFY(!copy.FindField(QStringLiteral("NRTAREFA")));
        QCOMPARE(copy.FieldByName(QStringLiteral("CODIGO"))->AsString(), QStringLiteral("X1"));
        // Declared fields still insist on their packet fields.
        QVERIFY(!errorOf([&] { a.cds.SetData(json(R"({"fields":[{"name":"CODIGO","type":"string"}],"rows":[]})")); })
                     .isEmpty());
    }

    // The filter and the field agree on what has no value.
    void emptyTextIsNoValue()
    {
        Activities a;
        a.load(R"({"fields":[{"name":"IDCHECK","type":"fixedstring","size":1},
                  {"name":"NRTAREFA","type":"string","size":10},
                  {"name":"QTTEMPLAITAR","type":"float"},{"name":"DTHRINICIO","type":"datetime"}],
                  "rows":[["","0001",null,null],[null,"0002",null,null],["S","0003",null,null]]})");
        QVERIFY(a.check->IsNull());
        a.cds.SetFilter(QStringLiteral("IDCHECK IS NULL"));
        a.cds.SetFiltered(true);
        QCOMPARE(a.cds.RecordCount(), 2);
        for (a.cds.First(); !a.cds.Eof(); a.cds.Next())
            QVERIFY(a.check->IsNull());
        a.cds.SetFilter(QStringLiteral("IDCHECK IS NOT NULL"));
        QCOMPARE(a.cds.RecordCount(), 1);
        QCOMPARE(a.task->AsString(), QStringLiteral("0003"));
        QVERIFY(!a.check->IsNull());
    }
};

QTEST_GUILESS_MAIN(TstDataSet)
#include "tst_dataset.moc"
