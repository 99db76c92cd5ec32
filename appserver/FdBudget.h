#pragma once

#include <algorithm>
#include <cstdint>

// How many client connections the process's file-descriptor limit leaves room
// for. Each connection holds one descriptor; the database connections of the
// workers, the listening socket, the log and the libraries' own files need
// theirs first, or at the limit a reader's database open fails instead of a
// newcomer being turned away.
struct FdBudget
{
    // Descriptors kept back whatever the workers: listening sockets, standard
    // streams, the stop pipe, TLS and time-zone files, libraries.
    static constexpr int kFixedReserve = 64;
    // Per worker: its database connection (SQLite: the file, its journal or
    // write-ahead log and shared memory; PostgreSQL: one socket) and slack.
    static constexpr int kPerWorker = 4;

    // The connection cap to use: the one asked for, lowered to what the limit
    // allows (at least 1).
    static int connectionCap(int requested, std::uint64_t fdLimit, int workers, int loginWorkers)
    {
        const std::uint64_t reserve = kFixedReserve + std::uint64_t(kPerWorker) * std::uint64_t(workers + loginWorkers);
        const std::uint64_t room = fdLimit > reserve + 1 ? fdLimit - reserve : 1;
        if (requested > 0 && std::uint64_t(requested) <= room)
            return requested;
        return int(std::min<std::uint64_t>(room, 0x7fffffff));
    }
};
