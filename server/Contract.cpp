#include "Contract.h"

#include "ColumnWidths.h"

#include <QHash>

namespace {

ContractField str(const char *name, int size) { return {QString::fromLatin1(name), QStringLiteral("string"), size}; }
ContractField fixed(const char *name, int size) { return {QString::fromLatin1(name), QStringLiteral("fixedstring"), size}; }
ContractField flt(const char *name) { return {QString::fromLatin1(name), QStringLiteral("float"), 0}; }
ContractField dt(const char *name) { return {QString::fromLatin1(name), QStringLiteral("datetime"), 0}; }

struct Datasets
{
    QStringList order;
    QHash<QString, QList<ContractField>> fields;

    void add(const char *name, QList<ContractField> list)
    {
        order << QString::fromLatin1(name);
        fields.insert(QString::fromLatin1(name), std::move(list));
    }

    Datasets()
    {
        // A stored column's field is as wide as the column; the others hold
        // what the server makes (a mark, hours as "H:MM", a state).
        using namespace Width;
        add("cdsConcAtivProj", {
            fixed("IDCHECK", 1), str("CDSEQCRONPRJ", Seq), str("DESCRICAO", Descricao), str("CDFILIAL", Filial),
            str("CDPROJETO", Projeto), str("NRBASELINEPR", Baseline), str("CDVERCRONPRJ", Versao),
            str("CDOPERRESP", Operador), str("NMOPERADOR", NmOperador), str("NRTAREFA", Tarefa),
            str("NRPLATIVTARE", PlAtiv), flt("QTTEMPLAITAR"), dt("DTINIITCRPRJ"), dt("DTFINITCRPRJ"),
            str("DTINPATIVTAR", DateTime), str("DTFIPATIVTAR", DateTime), str("CDFILAPRIO", FilaPrio),
            flt("VRPERCCONCL"), dt("DTHRAPROVATIVTA"), dt("DTINIULTATIV"),
            str("APROPRIA", 8), fixed("STAPROVACAO", 1), str("SITUACAO", Situacao),
        });
        const QList<ContractField> bookings = {
            str("DTHRINIAPROCSA", DateTime), str("DTHRFIMAPROCSA", DateTime), flt("VRPERCCONCL"),
            str("INCLUSAO", Inclusao), str("DSOBSAPROATVCSA", Observacao),
        };
        add("cdsApropriaCSA", bookings);
        add("cdsCSAAux", bookings + QList<ContractField>{str("NRPLATIVTARE", PlAtiv), str("NRTAREFA", Tarefa)});
        add("cdsPlanProj", {flt("VRPERCONCPRJ"), str("NRHORASPLAN", 9), flt("NRDIASITCRPJ")});
        add("cdsPlanCSA", {str("NRHORASAPROPRIA", 8), flt("APROPRIADO")});
        add("cdsProjeto", {str("CDPROJETO", Projeto), str("NMPROJETO", NmProjeto), str("CDOPERESPRJ", Operador)});
        add("cdsOperador", {fixed("IDMARCADO", 1), str("CDOPERRESP", Operador), str("NMOPERADOR", NmOperador)});
        add("cdsFiltroItemTrab", {fixed("IDMARCADO", 1), str("CDREDUITTRAB", ItemReduzido), str("CDITEMTRAB", Item),
                                  str("NMITEMTRAB", NmItem)});
    }
};

const Datasets &datasets()
{
    static const Datasets d;
    return d;
}

MethodInfo reader(const char *name, QStringList argNames, QStringList targets,
                  ContractPayloadKind kind = ContractPayloadKind::Packet)
{
    MethodInfo m;
    m.name = QString::fromLatin1(name);
    m.argCount = int(argNames.size());
    m.argNames = std::move(argNames);
    for (int i = 0; i < m.argCount; ++i) {
        m.argKinds << ContractArgKind::String;
        m.byRef << false;
    }
    m.payloadKind = kind;
    m.payloadDatasets = std::move(targets);
    return m;
}

QList<MethodInfo> buildMethods()
{
    const QString fil = QStringLiteral("CDFILIAL"), prj = QStringLiteral("CDPROJETO");
    QList<MethodInfo> list;
    list << reader("getConcAtivPro", {fil, prj}, {QStringLiteral("cdsConcAtivProj")});
    list << reader("getApropriaCSA", {fil, prj, QStringLiteral("NRTAREFA"), QStringLiteral("NRPLATIVTARE")},
                   {QStringLiteral("cdsApropriaCSA")});
    list << reader("getCSAAux", {fil, prj}, {QStringLiteral("cdsCSAAux")});
    list << reader("getPlanProj", {fil, prj}, {QStringLiteral("cdsPlanProj"), QStringLiteral("cdsPlanCSA")},
                   ContractPayloadKind::PacketPair);
    list << reader("getProjeto", {fil, prj, QStringLiteral("TCDPROJETO")}, {QStringLiteral("cdsProjeto")});

    MethodInfo approve = reader("setAprovaAtividades", {QStringLiteral("PACOTE")}, {}, ContractPayloadKind::None);
    approve.argKinds[0] = ContractArgKind::Packet;
    approve.argumentDataset = QStringLiteral("cdsConcAtivProj");
    list << approve;

    list << reader("SetAtualizaConcCSA",
                   {fil, prj, QStringLiteral("NRBASELINEPR"), QStringLiteral("CDVERCRONPRJ"),
                    QStringLiteral("CDSEQCRONPRJ"), QStringLiteral("VRPERCCONCL")},
                   {}, ContractPayloadKind::None);
    list << reader("getFiltroOper", {fil, prj, QStringLiteral("CDOPERRESP"), QStringLiteral("TCDOPERRESP")},
                   {QStringLiteral("cdsOperador")});
    list << reader("getFiltroItemTrab", {fil, prj, QStringLiteral("CDITEMTRAB"), QStringLiteral("TCDITEMTRAB")},
                   {QStringLiteral("cdsFiltroItemTrab")});

    MethodInfo filter = reader("getFiltroConcAtiv",
                               {fil, prj, QStringLiteral("stItTrab"), QStringLiteral("stTItTrab"),
                                QStringLiteral("stOperador"), QStringLiteral("stTOperador"),
                                QStringLiteral("situacao"), QStringLiteral("status")},
                               {QStringLiteral("cdsConcAtivProj")});
    for (int i = 2; i < 8; ++i)
        filter.byRef[i] = true;
    list << filter;
    return list;
}

} // namespace

QString contractModuleName()
{
    return QString::fromLatin1(kContractModuleName);
}

int MethodInfo::byRefCount() const
{
    return int(byRef.count(true));
}

const QList<MethodInfo> &contractMethods()
{
    static const QList<MethodInfo> methods = buildMethods();
    return methods;
}

const MethodInfo *findMethod(QStringView name)
{
    for (const MethodInfo &m : contractMethods())
        if (m.name == name)
            return &m;
    return nullptr;
}

QStringList contractDatasets()
{
    return datasets().order;
}

const QList<ContractField> &contractFields(QStringView datasetName)
{
    static const QList<ContractField> none;
    const auto &all = datasets().fields;
    const auto it = all.constFind(datasetName.toString());
    return it == all.cend() ? none : *it;
}

int contractFieldIndex(QStringView datasetName, QStringView fieldName)
{
    const QList<ContractField> &fields = contractFields(datasetName);
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name == fieldName)
            return i;
    return -1;
}
