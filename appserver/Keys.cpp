#include "Keys.h"

#include "Database.h"

QString varchar(int width)
{
    return QStringLiteral("VARCHAR(%1)").arg(width);
}

QString castText(const QString &placeholder, int width)
{
    return QStringLiteral("CAST(%1 AS %2)").arg(placeholder, varchar(width));
}

bool ProjectKey::fits() const
{
    return ::fits(filial, Width::Filial) && ::fits(projeto, Width::Projeto);
}

QString ProjectKey::where(const QString &alias)
{
    return QStringLiteral("%1CDFILIAL = %2 AND %1CDPROJETO = %3")
        .arg(alias, castText(QStringLiteral(":CDFILIAL"), Width::Filial),
             castText(QStringLiteral(":CDPROJETO"), Width::Projeto));
}

void ProjectKey::bind(Sql &q) const
{
    q.bind(QStringLiteral(":CDFILIAL"), filial).bind(QStringLiteral(":CDPROJETO"), projeto);
}

QList<std::pair<QString, QString>> ProjectKey::binds() const
{
    return {{QStringLiteral(":CDFILIAL"), filial}, {QStringLiteral(":CDPROJETO"), projeto}};
}

size_t qHash(const ProjectKey &k, size_t seed)
{
    return qHashMulti(seed, k.filial, k.projeto);
}

bool ActivityKey::fits() const
{
    return project.fits() && ::fits(baseline, Width::Baseline) && ::fits(versao, Width::Versao)
           && ::fits(seq, Width::Seq);
}

QString ActivityKey::where(const QString &alias)
{
    return ProjectKey::where(alias)
           + QStringLiteral(" AND %1NRBASELINEPR = %2 AND %1CDVERCRONPRJ = %3 AND %1CDSEQCRONPRJ = %4")
                 .arg(alias, castText(QStringLiteral(":NRBASELINEPR"), Width::Baseline),
                      castText(QStringLiteral(":CDVERCRONPRJ"), Width::Versao),
                      castText(QStringLiteral(":CDSEQCRONPRJ"), Width::Seq));
}

void ActivityKey::bind(Sql &q) const
{
    project.bind(q);
    q.bind(QStringLiteral(":NRBASELINEPR"), baseline)
        .bind(QStringLiteral(":CDVERCRONPRJ"), versao)
        .bind(QStringLiteral(":CDSEQCRONPRJ"), seq);
}

size_t qHash(const ActivityKey &k, size_t seed)
{
    return qHashMulti(seed, k.project.filial, k.project.projeto, k.baseline, k.versao, k.seq);
}
