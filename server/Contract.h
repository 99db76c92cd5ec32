#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// What the screen and the application server agree on: the remote module,
// its methods with their arguments, and the fields (in order) of every
// dataset a method's payload fills. Both sides and their tests read it here.

// Remote module name; also the HTTP path the server answers on ("/" + name).
inline constexpr char kContractModuleName[] = "VOR01300.rdmConcAtivProje";
QString contractModuleName();

struct ContractField
{
    QString name;
    QString type; // "string", "fixedstring", "float", "datetime"
    int size = 0; // characters for the string types, 0 for float and datetime
    bool operator==(const ContractField &) const = default;
};

enum class ContractArgKind {
    String, // every argument but one
    Packet  // setAprovaAtividades: a change-log data packet
};

enum class ContractPayloadKind {
    Packet,     // one data packet for payloadDatasets[0]
    PacketPair, // an array of two packets, for payloadDatasets[0] and [1]
    None        // the write methods: payload null, dropped by the caller
};

struct MethodInfo
{
    QString name;
    int argCount = 0;
    QList<ContractArgKind> argKinds; // one per argument
    QList<bool> byRef;               // one per argument; true: the server may change it
    QStringList argNames;            // one per argument, for messages and docs
    ContractPayloadKind payloadKind = ContractPayloadKind::Packet;
    QStringList payloadDatasets;     // target datasets, in payload order
    QString argumentDataset;         // dataset whose change log a Packet argument carries

    int byRefCount() const;
};

// The ten methods, in the order the contract lists them.
const QList<MethodInfo> &contractMethods();
// Exact (case-sensitive) name lookup; nullptr when unknown.
const MethodInfo *findMethod(QStringView name);

// Every dataset the contract describes.
QStringList contractDatasets();
// Fields of a dataset in order; an empty list for an unknown name.
const QList<ContractField> &contractFields(QStringView datasetName);
// Index of a field in a dataset's list, -1 when absent.
int contractFieldIndex(QStringView datasetName, QStringView fieldName);
