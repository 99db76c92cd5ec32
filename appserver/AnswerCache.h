#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>

#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

// A read's answer as encoded once: the payload's JSON text and, for methods
// with by-reference arguments, their values.
struct EncodedAnswer
{
    QByteArray payload;
    QJsonArray byref;
    bool hasByref = false;

    // The payload packed once (by the HTTP layer, for the clients that take
    // a compressed reply) and shared by every reply that sends this answer.
    // An empty result means it could not be packed.
    QByteArray packedOnce(const std::function<QByteArray(const QByteArray &)> &pack) const
    {
        std::call_once(m_packed->once, [&] { m_packed->bytes = pack(payload); });
        return m_packed->bytes;
    }

private:
    struct Packed
    {
        std::once_flag once;
        QByteArray bytes;
    };
    std::shared_ptr<Packed> m_packed = std::make_shared<Packed>();
};

// The last encoded answers of the reads, keyed by their validator (method,
// arguments and the data versions they were built from), within a bound on
// the bytes held. Callers asking for the same key at once share one build:
// the first builds, the others wait for it.
class AnswerCache final
{
public:
    using Answer = std::shared_ptr<const EncodedAnswer>;
    using Build = std::function<EncodedAnswer()>;

    explicit AnswerCache(qint64 maxBytes) : m_maxBytes(maxBytes) {}

    // The cached answer, or the one `build` makes (kept when it fits). An
    // exception from the build reaches the caller that ran it and every
    // caller that waited for it; the next call builds again.
    Answer get(const QByteArray &key, const Build &build, bool *built = nullptr);

    struct Stats
    {
        qint64 hits = 0;    // answered from the cache, or from another caller's build
        qint64 builds = 0;  // built
        qint64 bytes = 0;   // held now
        qint64 entries = 0; // held now
        qint64 evicted = 0; // dropped to stay within the bound
    };
    Stats stats() const;
    qint64 maxBytes() const { return m_maxBytes; }

private:
    struct Pending
    {
        bool done = false;
        Answer answer;
        std::exception_ptr error;
    };
    struct Entry
    {
        Answer answer;
        qint64 size = 0;
        std::list<QByteArray>::iterator use; // position in m_order
    };
    static qint64 sizeOf(const QByteArray &key, const EncodedAnswer &a);
    void keep(const QByteArray &key, const Answer &answer);

    const qint64 m_maxBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_built;
    QHash<QByteArray, Entry> m_entries;
    std::list<QByteArray> m_order; // most recently used first
    QHash<QByteArray, std::shared_ptr<Pending>> m_pending;
    Stats m_stats;
};
