#pragma once

#include <QString>

// How much the HTTP layer lets a client take. Connections are served by a few
// I/O threads without a thread each; at most `workers` requests run in the
// core at once, and at most `maxQueued` more wait for one.
struct HttpLimits
{
    int workers = 16;                   // threads running the core (each with its database connection)
    int loginWorkers = 1;               // threads for logins (a password check each)
    int ioThreads = 0;                  // threads reading and writing sockets; 0: one per processor, at most 4
    int maxQueued = 256;                // requests waiting for a worker; beyond, 503
    int maxConnections = 2048;          // open connections in all; beyond, the idlest or slowest is closed
    int maxPerAddress = 128;            // open connections from one client address; beyond, 503
    int backlog = 1024;                 // listen queue
    int maxHeadBytes = 64 * 1024;       // request line and headers together; beyond, 431
    int headTimeoutSec = 10;            // a request's line and headers, from its first byte; never extended
    int minBytesPerSec = 8 * 1024;      // a body coming in, and a reply going out, at least this fast...
    int rateWindowSec = 10;             // ...over any window of this many seconds
    int idleTimeoutSec = 5;             // a kept-alive connection without a new request
    int maxRequestsPerConnection = 1000;
    int bodyMemoryMiB = 256;            // request bodies in flight, all connections together (inflated too)
    int replyMemoryMiB = 128;           // replies built and not yet sent, all connections together
    int answerCacheMiB = 128;           // encoded answers of the reads kept for reuse (0: none kept)
    bool injectFaults = false;          // tests only: honours the X-Vor-Inject header
    bool noHealth = false;              // GET /health off
    bool noMetrics = false;             // GET /metrics off
    QString adminHost;                  // with adminPort >= 0: /health and /metrics only there
    int adminPort = -1;
    QString trustedProxies;             // comma-separated addresses whose X-Forwarded-For is believed
    QString tlsCert;                    // both set: HTTPS
    QString tlsKey;
};
