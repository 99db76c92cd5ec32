#include "Contract.h"

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
        add("cdsConcAtivProj", {
            fixed("IDCHECK", 1), str("CDSEQCRONPRJ", 5), str("DESCRICAO", 100), str("CDFILIAL", 4),
            str("CDPROJETO", 10), str("NRBASELINEPR", 3), str("CDVERCRONPRJ", 3), str("CDOPERRESP", 12),
            str("NMOPERADOR", 40), str("NRTAREFA", 10), str("NRPLATIVTARE", 5), flt("QTTEMPLAITAR"),
            dt("DTINIITCRPRJ"), dt("DTFINITCRPRJ"), str("DTINPATIVTAR", 19), str("DTFIPATIVTAR", 19),
            str("CDFILAPRIO", 3), flt("VRPERCCONCL"), dt("DTHRAPROVATIVTA"), dt("DTINIULTATIV"),
            str("APROPRIA", 8), fixed("STAPROVACAO", 1), str("SITUACAO", 1),
        });
        const QList<ContractField> bookings = {
            str("DTHRINIAPROCSA", 19), str("DTHRFIMAPROCSA", 19), flt("VRPERCCONCL"),
            str("INCLUSAO", 64), str("DSOBSAPROATVCSA", 4000),
        };
        add("cdsApropriaCSA", bookings);
        add("cdsCSAAux", bookings + QList<ContractField>{str("NRPLATIVTARE", 5), str("NRTAREFA", 10)});
        add("cdsPlanProj", {flt("VRPERCONCPRJ"), str("NRHORASPLAN", 9), flt("NRDIASITCRPJ")});
        add("cdsPlanCSA", {str("NRHORASAPROPRIA", 8), flt("APROPRIADO")});
        add("cdsProjeto", {str("CDPROJETO", 10), str("NMPROJETO", 100), str("CDOPERESPRJ", 12)});
        add("cdsOperador", {fixed("IDMARCADO", 1), str("CDOPERRESP", 12), str("NMOPERADOR", 40)});
        add("cdsFiltroItemTrab", {fixed("IDMARCADO", 1), str("CDREDUITTRAB", 20), str("CDITEMTRAB", 10),
                                  str("NMITEMTRAB", 100)});
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
