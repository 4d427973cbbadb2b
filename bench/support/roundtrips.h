#pragma once

// The statements a benchmark sends to its databases, and the connections it opens, per
// iteration of its timed loop: over an office network each statement is a round trip.
//
//     RoundTrips trips;
//     for (auto _ : state) { ...; trips.exclude([&] { untimed(); }); }
//     trips.report(state);

#include "kordao/kordao.h"

#include <benchmark/benchmark.h>

class RoundTrips {
public:
    /// Runs \p untimed (work between iterations) without counting what it sends.
    template <typename F> void exclude(F untimed)
    {
        const qint64 statements = KorDAO::statementsSent();
        const qint64 connections = KorDAO::connectionsOpened();
        untimed();
        m_statements += KorDAO::statementsSent() - statements;
        m_connections += KorDAO::connectionsOpened() - connections;
    }

    void report(benchmark::State& state) const
    {
        state.counters["statements"] = benchmark::Counter(
            double(KorDAO::statementsSent() - m_statements), benchmark::Counter::kAvgIterations);
        state.counters["connections"] =
            benchmark::Counter(double(KorDAO::connectionsOpened() - m_connections),
                               benchmark::Counter::kAvgIterations);
    }

private:
    // The counts at the start, moved on by what was excluded.
    qint64 m_statements = KorDAO::statementsSent();
    qint64 m_connections = KorDAO::connectionsOpened();
};
