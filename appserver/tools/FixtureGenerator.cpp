// vor-fixture: writes a large, realistic fixture for vor01300-server --import
// (format in docs/fixtures.md) on stdout.
//
//   vor-fixture --activities N --bookings M [--seed S] [--project CODE] [--project-only]
//
// One project of branch 0001 whose responsible operator is ANA (password
// ana123), N activities and M bookings spread unevenly over them (some
// activities get none). --project-only leaves out the branches, operators and
// work items, for a second project imported into a database that already
// holds them. The same arguments always give the same bytes.
#include <QByteArray>
#include <QDate>
#include <QTime>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every platform (the standard
// library's distributions are not).
class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 <= value < n
    int below(int n) { return n <= 0 ? 0 : int(next() % uint64_t(n)); }
    // true with the given chance in percent
    bool chance(int percent) { return below(100) < percent; }
    template <class T, size_t N>
    const T &pick(const T (&list)[N])
    {
        return list[below(int(N))];
    }

private:
    uint64_t m_state;
};

struct Operator
{
    const char *code, *name, *password;
};

const Operator kOperators[] = {
    {"ANA", "Ana Lima", "ana123"},          {"BIA", "Beatriz Souza", "bia123"},
    {"CAIO", "Caio Ferreira", "caio123"},   {"DUDA", "Eduarda Martins", "duda123"},
    {"EDU", "Eduardo Rocha", "edu123"},     {"FABIO", "Fábio Gonçalves", "fabio123"},
    {"GABI", "Gabriela Araújo", "gabi123"}, {"HUGO", "Hugo Nascimento", "hugo123"},
    {"IRIS", "Íris Cavalcanti", "iris123"}, {"JOAO", "João Batista", "joao123"},
};

struct WorkItem
{
    const char *code, *shortCode, *name;
};

const WorkItem kWorkItems[] = {
    {"IT01", "ANALISE", "Análise de requisitos"},     {"IT02", "PROJETO", "Projeto técnico"},
    {"IT03", "DESENV", "Desenvolvimento"},            {"IT04", "TESTE", "Testes integrados"},
    {"IT05", "HOMOLOG", "Homologação com o cliente"}, {"IT06", "IMPLANT", "Implantação"},
    {"IT07", "TREIN", "Treinamento de usuários"},     {"IT08", "DOC", "Documentação"},
    {"IT09", "GESTAO", "Gestão do projeto"},          {"IT10", "SUPORTE", "Suporte pós-implantação"},
    {"IT11", "MIGRA", "Migração de dados"},           {"IT12", "INFRA", "Infraestrutura"},
};

const char *const kVerbs[] = {"Levantar", "Revisar", "Implementar", "Testar", "Documentar", "Validar",
                              "Ajustar", "Migrar", "Configurar", "Homologar", "Especificar", "Corrigir"};
const char *const kSubjects[] = {"cadastro de clientes", "emissão de notas fiscais", "relatório de vendas",
                                 "integração bancária", "controle de estoque", "folha de pagamento",
                                 "portal do fornecedor", "módulo de compras", "painel gerencial",
                                 "conciliação contábil", "agenda de entregas", "cálculo de impostos",
                                 "cadastro de produtos", "fluxo de aprovação", "contas a receber"};
const char *const kQualifiers[] = {"", "", " (fase 1)", " (fase 2)", " - ajustes finais", " para a filial Sul",
                                   " conforme ata", " - versão web"};

const char *const kSentences[] = {
    "Reunião com o usuário-chave para validar o escopo.",
    "Ajustes solicitados na revisão de ontem.",
    "Testes executados no ambiente de homologação sem pendências.",
    "Aguardando retorno do cliente sobre as regras de cálculo.",
    "Correção de falha encontrada nos testes integrados.",
    "Documentação atualizada com as telas novas.",
    "Análise do impacto da mudança nas rotinas existentes.",
    "Carga de dados de teste e conferência dos totais.",
    "Alinhamento com a equipe de infraestrutura sobre o servidor.",
    "Revisão de código e ajustes de desempenho.",
    "Treinamento rápido com a equipe do financeiro.",
    "Levantamento das exceções tratadas hoje manualmente.",
};

void usage()
{
    std::fputs("usage: vor-fixture --activities N --bookings M [--seed S] [--project CODE] [--project-only]\n"
               "Writes a fixture for vor01300-server --import on stdout (docs/fixtures.md).\n",
               stderr);
}

class Writer
{
public:
    void raw(const char *s) { m_out.append(s); }
    void raw(const std::string &s) { m_out.append(s); }
    void text(const char *s)
    {
        m_out.push_back('"');
        for (const char *p = s; *p; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"' || c == '\\') {
                m_out.push_back('\\');
                m_out.push_back(char(c));
            } else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                m_out.append(buf);
            } else {
                m_out.push_back(char(c));
            }
        }
        m_out.push_back('"');
    }
    void text(const std::string &s) { text(s.c_str()); }
    void key(const char *k)
    {
        text(k);
        m_out.push_back(':');
    }
    void number(double v)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.10g", v);
        m_out.append(buf);
    }
    // Written out now and then so that a large fixture never sits whole in memory.
    void flush(bool force = false)
    {
        if (!force && m_out.size() < (1u << 20))
            return;
        std::fwrite(m_out.data(), 1, m_out.size(), stdout);
        m_out.clear();
    }

private:
    std::string m_out;
};

// Minutes from 2026-01-01 00:00 to text, in the two formats of the fixture.
const QDate kBase(2026, 1, 1);

std::string isoText(int minutes)
{
    const QDate d = kBase.addDays(minutes / 1440);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:00", d.year(), d.month(), d.day(), minutes % 1440 / 60,
                  minutes % 60);
    return buf;
}

std::string screenText(int minutes)
{
    const QDate d = kBase.addDays(minutes / 1440);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:00", d.day(), d.month(), d.year(), minutes % 1440 / 60,
                  minutes % 60);
    return buf;
}

// A working moment: a weekday-ish day offset and an hour between 8 and 17.
int workMinute(Random &r, int fromDay, int days)
{
    const int day = fromDay + r.below(qMax(1, days));
    return day * 1440 + (8 + r.below(9)) * 60 + 15 * r.below(4);
}

bool parseCount(const char *text, long long max, long long *out)
{
    char *end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (!end || *end || v < 0 || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    long long activities = -1, bookings = -1, seed = 1;
    std::string project = "0000000001";
    bool projectOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(a, "--activities") && hasValue) {
            if (!parseCount(argv[++i], 99999, &activities))
                return usage(), 2;
        } else if (!std::strcmp(a, "--bookings") && hasValue) {
            if (!parseCount(argv[++i], 100000000, &bookings))
                return usage(), 2;
        } else if (!std::strcmp(a, "--seed") && hasValue) {
            if (!parseCount(argv[++i], (1ll << 62), &seed))
                return usage(), 2;
        } else if (!std::strcmp(a, "--project") && hasValue) {
            project = argv[++i];
            if (project.empty() || project.size() > 10)
                return usage(), 2;
        } else if (!std::strcmp(a, "--project-only")) {
            projectOnly = true;
        } else {
            usage();
            return 2;
        }
    }
    if (activities < 0 || bookings < 0 || (activities == 0 && bookings > 0)) {
        usage();
        return 2;
    }

    Random r(uint64_t(seed) * 7919 + 17);
    Writer w;
    w.raw("{");
    if (!projectOnly) {
        w.raw("\"branches\":[{\"CDFILIAL\":\"0001\",\"NMFILIAL\":\"Matriz\"},"
              "{\"CDFILIAL\":\"0002\",\"NMFILIAL\":\"Filial Sul\"}],\n\"operators\":[");
        for (size_t i = 0; i < std::size(kOperators); ++i) {
            w.raw(i ? ",{" : "{");
            w.key("CDOPERADOR"), w.text(kOperators[i].code), w.raw(",");
            w.key("NMOPERADOR"), w.text(kOperators[i].name), w.raw(",");
            w.key("password"), w.text(kOperators[i].password), w.raw("}");
        }
        w.raw("],\n\"workItems\":[");
        for (size_t i = 0; i < std::size(kWorkItems); ++i) {
            w.raw(i ? ",{" : "{");
            w.key("CDITEMTRAB"), w.text(kWorkItems[i].code), w.raw(",");
            w.key("CDREDUITTRAB"), w.text(kWorkItems[i].shortCode), w.raw(",");
            w.key("NMITEMTRAB"), w.text(kWorkItems[i].name), w.raw("}");
        }
        w.raw("],\n");
    }
    w.raw("\"projects\":[{\"CDFILIAL\":\"0001\",");
    w.key("CDPROJETO"), w.text(project), w.raw(",");
    w.key("NMPROJETO"), w.text("Projeto gerado " + project), w.raw(",\"CDOPERESPRJ\":\"ANA\",\n\"activities\":[");

    // Bookings go to about 90 % of the activities, unevenly: each gets a
    // weight of 0 (none) or 1 to 20, and the bookings are dealt in proportion.
    std::vector<int> weight(size_t(activities), 0);
    long long totalWeight = 0;
    for (long long i = 0; i < activities; ++i) {
        weight[size_t(i)] = r.chance(10) ? 0 : 1 + r.below(20);
        totalWeight += weight[size_t(i)];
    }
    if (totalWeight == 0 && activities > 0) {
        weight[0] = 1;
        totalWeight = 1;
    }
    std::vector<long long> count(size_t(activities), 0);
    long long dealt = 0;
    long long runningWeight = 0;
    for (long long i = 0; i < activities; ++i) {
        runningWeight += weight[size_t(i)];
        const long long upTo = totalWeight ? bookings * runningWeight / totalWeight : 0;
        count[size_t(i)] = upTo - dealt;
        dealt = upTo;
    }

    for (long long i = 0; i < activities; ++i) {
        char seq[8], task[12], step[8];
        std::snprintf(seq, sizeof seq, "%05lld", i + 1);
        std::snprintf(task, sizeof task, "%lld", i / 5 + 1);
        std::snprintf(step, sizeof step, "%lld", i % 5 + 1);
        const Operator &responsible = r.pick(kOperators);
        const int planStartDay = r.below(300);
        const int planDays = 1 + r.below(30);
        const double planned = 0.25 * (2 + r.below(320)); // 0,5 h to 80 h
        const bool concluded = r.chance(30);
        const bool started = concluded || count[size_t(i)] > 0 || r.chance(50);
        const int realStart = workMinute(r, planStartDay, 3);
        const int realEnd = realStart + (planDays * 1440) / 2 + 60 * r.below(200);
        const bool approved = r.chance(40);
        const int approval = realStart + 1440 * (1 + r.below(20));
        const int lastWork = realStart + 1440 * r.below(30);
        const int percent = concluded ? 100 : 5 * r.below(20);

        w.raw(i ? ",\n{" : "{");
        w.key("CDSEQCRONPRJ"), w.text(seq), w.raw(",\"NRBASELINEPR\":\"001\",\"CDVERCRONPRJ\":\"001\",");
        w.key("CDITEMTRAB");
        if (r.chance(5))
            w.raw("null");
        else
            w.text(r.pick(kWorkItems).code);
        std::string description = std::string(r.pick(kVerbs)) + " " + r.pick(kSubjects) + r.pick(kQualifiers);
        w.raw(","), w.key("DESCRICAO"), w.text(description);
        w.raw(","), w.key("CDOPERRESP"), w.text(responsible.code);
        w.raw(","), w.key("NRTAREFA"), w.text(task);
        w.raw(","), w.key("NRPLATIVTARE"), w.text(step);
        w.raw(","), w.key("QTTEMPLAITAR"), w.number(planned);
        w.raw(","), w.key("DTINIITCRPRJ"), w.text(isoText(planStartDay * 1440 + 8 * 60));
        w.raw(","), w.key("DTFINITCRPRJ"), w.text(isoText((planStartDay + planDays) * 1440 + 18 * 60));
        w.raw(","), w.key("DTINPATIVTAR");
        started ? w.text(screenText(realStart)) : w.raw("null");
        w.raw(","), w.key("DTFIPATIVTAR");
        concluded ? w.text(screenText(realEnd)) : w.raw("null");
        w.raw(","), w.key("CDFILAPRIO");
        if (r.chance(20))
            w.raw("null");
        else
            w.text(std::to_string(1 + r.below(3)));
        w.raw(","), w.key("VRPERCCONCL"), w.number(percent);
        w.raw(","), w.key("DTHRAPROVATIVTA");
        approved ? w.text(isoText(approval)) : w.raw("null");
        w.raw(","), w.key("DTINIULTATIV");
        started ? w.text(isoText(lastWork)) : w.raw("null");
        w.raw(","), w.key("SITUACAO"), w.text(concluded ? "C" : "A");

        if (count[size_t(i)] > 0) {
            w.raw(",\"bookings\":[");
            int moment = realStart;
            for (long long k = 0; k < count[size_t(i)]; ++k) {
                const int length = 30 * (1 + r.below(16)); // 30 min to 8 h
                const bool open = r.chance(2);
                const Operator &who = r.pick(kOperators);
                w.raw(k ? ",{" : "{");
                w.key("DTHRINIAPROCSA"), w.text(screenText(moment));
                w.raw(","), w.key("DTHRFIMAPROCSA");
                open ? w.raw("null") : w.text(screenText(moment + length));
                w.raw(","), w.key("VRPERCCONCL"), w.number(qMin(100, percent * int(k + 1) / int(count[size_t(i)]) + r.below(5)));
                w.raw(","), w.key("INCLUSAO"), w.text(std::string(who.code) + " " + screenText(moment + length).substr(0, 16));
                w.raw(","), w.key("DSOBSAPROATVCSA");
                if (r.chance(15)) {
                    w.raw("null");
                } else {
                    std::string note;
                    const int sentences = 1 + r.below(3);
                    for (int s = 0; s < sentences; ++s) {
                        if (s)
                            note += ' ';
                        note += r.pick(kSentences);
                    }
                    w.text(note);
                }
                w.raw("}");
                // The next booking later the same day or on a following day.
                moment += length + 30 + (r.chance(60) ? 0 : 1440 * (1 + r.below(3)) - 60 * r.below(4));
                w.flush();
            }
            w.raw("]");
        }
        w.raw("}");
        w.flush();
    }
    w.raw("]}]}\n");
    w.flush(true);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
