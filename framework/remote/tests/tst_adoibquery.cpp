#include "ADOIBQuery.h"
#include "ClientDataSet.h"
#include "DBGeral.h"
#include "Errors.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The branch query exactly as the screens write it.
const QStringList kBranchSql{"SELECT CDFILIAL,NMFILIAL", "  FROM  FILIAL",
                             " WHERE (:P_CDFILIAL = CDFILIAL OR :P_TCDFILIAL = 'T')", " ORDER BY CDFILIAL", " "};

void insertBranch(const QString &code, const QString &name)
{
    QSqlQuery insert(dtmDBGeral().adcGeral.database());
    QVERIFY(insert.prepare("INSERT INTO FILIAL(CDFILIAL, NMFILIAL) VALUES (?, ?)"));
    insert.addBindValue(code);
    insert.addBindValue(name);
    QVERIFY(insert.exec());
}

void declareBranchFields(TADOIBQuery &query)
{
    query.Query()->AddField("CDFILIAL", TFieldType::String, 4)->DisplayLabel = "Código";
    query.Query()->AddField("NMFILIAL", TFieldType::String, 30)->DisplayLabel = "Nome";
}

QStringList codes(TADOIBQuery &query)
{
    QStringList result;
    for (query.Query()->First(); !query.Query()->Eof(); query.Query()->Next())
        result << query.FieldByName("CDFILIAL")->AsString();
    return result;
}
} // namespace

class tst_ADOIBQuery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath(QString("local-%1.sqlite").arg(++m_files));
        dtmDBGeral().open(path);
        QVERIFY(dtmDBGeral().isOpen());
        insertBranch("0002", "Filial Sul");
        insertBranch("0001", "Matriz");
        insertBranch("0'03", "D'Ávila & Cia");
    }

    void cleanup() { dtmDBGeral().close(); }

    void branchQueryParsesBothPlaceholders()
    {
        TADOIBQuery query;
        query.SQL = kBranchSql;
        QCOMPARE(query.SQL, kBranchSql);
        QCOMPARE(query.placeholderNames(), (QStringList{"P_CDFILIAL", "P_TCDFILIAL"}));
        QCOMPARE(query.Params().size(), size_t(2));
        QVERIFY(!query.positionalText().contains(':'));
        QCOMPARE(query.positionalText().count('?'), 2);
        QVERIFY(query.positionalText().contains("'T'"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.ParamByName("P_OUTRO"));
        QVERIFY(query.ParamByName("p_cdfilial") == query.ParamByName("P_CDFILIAL"));
    }

    void checkAndLookupUses()
    {
        TADOIBQuery query;
        query.SQL = kBranchSql;
        declareBranchFields(query);

        // Check: one branch by code.
        query.Close();
        query.ParamByName("P_CDFILIAL")->SetAsString("0001");
        query.ParamByName("P_TCDFILIAL")->SetAsString("");
        query.Open();
        QVERIFY(query.Active());
        QVERIFY(!query.IsEmpty());
        QCOMPARE(query.FieldByName("CDFILIAL")->AsString(), QString("0001"));
        QCOMPARE(query.FieldByName("NMFILIAL")->AsString(), QString("Matriz"));
        QCOMPARE(query.Query()->RecordCount(), 1);

        query.Close();
        query.ParamByName("P_CDFILIAL")->SetAsString("0009");
        query.Open();
        QVERIFY(query.IsEmpty());

        // Lookup: every branch in code order.
        query.Close();
        query.ParamByName("P_CDFILIAL")->SetAsString(QString());
        query.ParamByName("P_TCDFILIAL")->SetAsString("T");
        query.Open();
        QCOMPARE(codes(query), (QStringList{"0'03", "0001", "0002"}));
        QCOMPARE(query.Query()->FieldByName("NMFILIAL")->displayLabel(), QString("Nome"));

        query.Close();
        QVERIFY(!query.Active());
        QVERIFY(query.IsEmpty());
    }

    void valuesAreBoundNeverSpliced()
    {
        TADOIBQuery query;
        query.SQL = kBranchSql;
        declareBranchFields(query);
        query.ParamByName("P_CDFILIAL")->SetAsString("0'03");
        query.ParamByName("P_TCDFILIAL")->SetAsString("");
        query.Open();
        QCOMPARE(query.FieldByName("NMFILIAL")->AsString(), QString("D'Ávila & Cia"));

        query.Close();
        query.ParamByName("P_CDFILIAL")->SetAsString("' OR '1'='1");
        query.Open();
        QVERIFY(query.IsEmpty());

        query.Close();
        query.ParamByName("P_CDFILIAL")->SetAsString("x'); DROP TABLE FILIAL; --");
        query.Open();
        QVERIFY(query.IsEmpty());
        QVERIFY(dtmDBGeral().adcGeral.database().tables().contains("FILIAL"));
    }

    void literalsCommentsAndCastsAreNotParameters()
    {
        TADOIBQuery query;
        query.SQL = QStringList{"SELECT CDFILIAL, ':NAO' AS A, \":X\" AS B -- :COMENTARIO",
                                "  FROM FILIAL /* :BLOCO */ WHERE NMFILIAL = :NOME OR CDFILIAL = :nome",
                                " ORDER BY CDFILIAL"};
        QCOMPARE(query.placeholderNames(), (QStringList{"NOME", "nome"}));
        QCOMPARE(query.Params().size(), size_t(1));
        QVERIFY(query.positionalText().contains("':NAO'"));
        query.ParamByName("NOME")->SetAsString("0002");
        query.Open();
        // No declared fields: string fields made from the columns.
        QCOMPARE(query.Query()->FieldCount(), 3);
        QCOMPARE(codes(query), QStringList{"0002"});
        QCOMPARE(query.FieldByName("A")->AsString(), QString(":NAO"));

        // A new text keeps the values of the names it still uses.
        query.Close();
        query.SQL[1] = "  FROM FILIAL WHERE CDFILIAL = :NOME";
        QCOMPARE(query.ParamByName("NOME")->AsString(), QString("0002"));
    }

    void databaseFailuresRaiseWithTheDriverText()
    {
        TADOIBQuery query;
        query.SQL = QStringList{"SELECT X FROM NAO_EXISTE WHERE X = :P"};
        query.ParamByName("P")->SetAsString("1");
        try {
            query.Open();
            QFAIL("no exception");
        } catch (const EDatabaseError &e) {
            QVERIFY2(e.message().contains("NAO_EXISTE"), qPrintable(e.message()));
        }
        QVERIFY(!query.Active());

        // A declared field the result lacks.
        TADOIBQuery narrow;
        narrow.SQL = QStringList{"SELECT CDFILIAL FROM FILIAL"};
        declareBranchFields(narrow);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, narrow.Open());

        dtmDBGeral().close();
        TADOIBQuery closed;
        closed.SQL = kBranchSql;
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, closed.Open());
    }

    void openKeepsAnExistingDatabase()
    {
        const QString path = dtmDBGeral().path();
        dtmDBGeral().close();
        dtmDBGeral().open(path);
        QSqlQuery count(dtmDBGeral().adcGeral.database());
        QVERIFY(count.exec("SELECT COUNT(*) FROM FILIAL"));
        QVERIFY(count.next());
        QCOMPARE(count.value(0).toInt(), 3);
        count = QSqlQuery();
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, dtmDBGeral().open(m_dir.filePath("no/such/dir/x.sqlite")));
        QVERIFY(!dtmDBGeral().isOpen());
    }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
};

QTEST_GUILESS_MAIN(tst_ADOIBQuery)
#include "tst_adoibquery.moc"
