#pragma once

// Widths, in characters, of the stored text columns. The schema declares its
// columns with them, the contract gives them as the sizes of the fields that
// carry those columns, and the server checks arguments against them: a value
// wider than its column can match nothing, and must not reach a CAST that
// would cut it down to one that does.
namespace Width {

// Keys and codes.
inline constexpr int Filial = 4;        // CDFILIAL
inline constexpr int Projeto = 10;      // CDPROJETO
inline constexpr int Baseline = 3;      // NRBASELINEPR
inline constexpr int Versao = 3;        // CDVERCRONPRJ
inline constexpr int Seq = 5;           // CDSEQCRONPRJ
inline constexpr int Tarefa = 10;       // NRTAREFA
inline constexpr int PlAtiv = 5;        // NRPLATIVTARE
inline constexpr int Operador = 12;     // CDOPERADOR, and CDOPERRESP, CDOPERESPRJ, CDOPERAPROV naming one
inline constexpr int Item = 10;         // CDITEMTRAB
inline constexpr int ItemReduzido = 20; // CDREDUITTRAB
inline constexpr int FilaPrio = 3;      // CDFILAPRIO
inline constexpr int Situacao = 1;      // SITUACAO

// Names and texts.
inline constexpr int NmFilial = 30;     // NMFILIAL
inline constexpr int NmOperador = 40;   // NMOPERADOR
inline constexpr int NmProjeto = 100;   // NMPROJETO
inline constexpr int NmItem = 100;      // NMITEMTRAB
inline constexpr int Descricao = 100;   // DESCRICAO
inline constexpr int Inclusao = 64;     // INCLUSAO
inline constexpr int Observacao = 4000; // DSOBSAPROATVCSA
inline constexpr int DateTime = 19;     // a date-time kept as text, in either layout

// The audit trail.
inline constexpr int AuditId = 36;      // IDAUDITORIA, a UUID
inline constexpr int AuditEvent = 20;   // DSEVENTO

} // namespace Width
