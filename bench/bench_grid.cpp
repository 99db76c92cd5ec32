// The activity grid under a large project, through the real screen and the
// real server: repainting the visible rows with few and with very many
// bookings in the project, and marking all activities by the mark title.
// Run: build/bin/bench_grid [activities] [bookings]   (defaults 5000 and 100000)
#include "ScreenHarness.h"

#include "Cli_VOR01300.h"

#include "ClientDataSet.h"
#include "DBGrid.h"
#include "Edit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

QJsonObject project(const QString &code, int activities, int bookings)
{
    QJsonArray list;
    for (int a = 0; a < activities; ++a) {
        QJsonArray own;
        // Bookings spread over the activities; every third activity has none.
        const int share = a % 3 == 2 ? 0 : bookings / (activities - activities / 3) + 1;
        for (int b = 0; b < share && bookings > 0; ++b, --bookings)
            own.append(QJsonObject{{"DTHRINIAPROCSA", "05/01/2026 08:00:00"},
                                   {"DTHRFIMAPROCSA", "05/01/2026 09:00:00"},
                                   {"VRPERCCONCL", 10},
                                   {"INCLUSAO", "ANA"}});
        list.append(QJsonObject{{"CDSEQCRONPRJ", QString::number(a + 1).rightJustified(5, '0')},
                                {"NRBASELINEPR", "001"},
                                {"CDVERCRONPRJ", "001"},
                                {"DESCRICAO", QStringLiteral("Atividade %1").arg(a + 1)},
                                {"CDOPERRESP", "ANA"},
                                {"NRTAREFA", QStringLiteral("T%1").arg(a / 100)},
                                {"NRPLATIVTARE", QString::number(a % 100)},
                                {"QTTEMPLAITAR", 2},
                                {"VRPERCCONCL", 10},
                                {"SITUACAO", a % 5 == 4 ? "C" : "A"},
                                {"DTINPATIVTAR", "05/01/2026 08:00:00"},
                                {"bookings", own}});
    }
    return QJsonObject{{"CDFILIAL", "0001"}, {"CDPROJETO", code}, {"NMPROJETO", code},
                       {"CDOPERESPRJ", "ANA"}, {"activities", list}};
}

void load(TfrmConcAtivProj *s, const QString &code)
{
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("1"));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    ScreenHarness::focus(s->edtCDPROJETO);
    s->edtCDPROJETO->selectAll();
    ScreenHarness::typeText(s->edtCDPROJETO, code);
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QTest::qWaitFor([s] { return s->cdsCSAAux->Active() && s->cdsConcAtivProj->Active(); }, 600000);
}

double repaintMs(TfrmConcAtivProj *s, int times)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < times; ++i)
        s->dbgPadrao->viewport()->repaint();
    return double(clock.nsecsElapsed()) / 1e6 / times;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int activities = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int bookings = argc > 2 ? std::atoi(argv[2]) : 100000;

    QTemporaryDir dir;
    const QJsonObject fixture{
        {"branches", QJsonArray{QJsonObject{{"CDFILIAL", "0001"}, {"NMFILIAL", "Matriz"}}}},
        {"operators", QJsonArray{QJsonObject{{"CDOPERADOR", "ANA"}, {"NMOPERADOR", "Ana"}, {"password", "ana123"}}}},
        {"projects", QJsonArray{project("0000000001", activities, 100), project("0000000002", activities, bookings)}}};
    const QString path = dir.filePath(QStringLiteral("bench.json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(fixture).toJson(QJsonDocument::Compact));
    file.close();

    ScreenHarness host;
    QString error;
    if (!host.setUp(&error, path)) {
        std::fprintf(stderr, "bench_grid: %s\n", qPrintable(error));
        return 1;
    }
    TfrmConcAtivProj *s = host.openScreen();
    std::printf("%d activities\n", activities);
    for (const auto &[code, count] : {std::pair{QStringLiteral("1"), 100}, std::pair{QStringLiteral("2"), bookings}}) {
        QElapsedTimer clock;
        clock.start();
        load(s, code);
        const qint64 loadMs = clock.elapsed();
        repaintMs(s, 3); // warm up
        std::printf("%7d project bookings: load %lld ms, repaint of the visible rows %.2f ms\n", count,
                    static_cast<long long>(loadMs), repaintMs(s, 50));

        QHeaderView *header = s->dbgPadrao->horizontalHeader();
        const QPoint title(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2);
        host.server().markCalls();
        clock.restart();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
        const qint64 markMs = clock.elapsed();
        std::printf("%7d project bookings: mark all %lld ms, %lld server calls (%s)\n", count,
                    static_cast<long long>(markMs), static_cast<long long>(host.server().methodsSinceMark().size()),
                    qPrintable(host.server().methodsSinceMark().join(QLatin1Char(' '))));
        // One mark by click (the approve command is re-derived from all marks).
        const QRect mark = s->dbgPadrao->visualRect(s->dbgPadrao->model()->index(0, 0));
        clock.restart();
        QTest::mouseClick(s->dbgPadrao->viewport(), Qt::LeftButton, {}, mark.center());
        std::printf("%7d project bookings: one mark %lld ms\n", count, static_cast<long long>(clock.elapsed()));
        ScreenHarness::focus(s->edtCDFILIAL);
    }
    return 0;
}
