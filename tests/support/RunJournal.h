// A long journal made up for the Run View's test and benchmark: readings at 5 a second (DCV,
// then stretches of DCA mA), stops of a few minutes, overload stretches and single-reading spikes,
// written by the program's own row codec.
#pragma once

#include "decode/FunctionCode.h"
#include "record/ReadingRecord.h"
#include "record/RowCodec.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zelvox::testing {

struct RunJournalFacts {
    std::int64_t firstMs = 0, lastMs = 0;
    std::vector<std::int64_t> spikeMs; // the instants of the single-reading spikes
    double spikeValue = 0;
};

// Writes rows readings to path; every spikeEvery-th reading (from spikeEvery/2 + 777) is a spike.
// With changeEveryRow, every other reading measures the current: the function changes at each row.
inline RunJournalFacts WriteRunJournal(const std::string& path, std::int64_t rows, std::int64_t spikeEvery,
                                       std::int64_t startMs = 1796726526000, int utcOffset = 3600,
                                       bool changeEveryRow = false) {
    RunJournalFacts facts;
    facts.spikeValue = 47.5;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return facts;
    std::string out = CsvHeader();
    std::int64_t ms = startMs, index = 1;
    for (std::int64_t i = 0; i < rows; ++i) {
        // A stop of five minutes every 100,000 readings (about five and a half hours).
        if (i > 0 && i % 100'000 == 0)
            ms += 300'000;
        ms += 200 + (i * 7919) % 9; // a little jitter, no gaps
        if (i == 0)
            facts.firstMs = ms;
        // A tenth of each stretch of 100,000 readings measures a current.
        const bool current = changeEveryRow ? i % 2 == 1 : i % 100'000 >= 90'000;
        Reading r;
        r.functionCode = current ? kDcMilliampere : kDcVolt;
        r.pointPosition = current ? 2 : 1;
        const double phase = static_cast<double>(i) / 3000.0;
        r.value =
            current
                ? std::round((120 + 30 * std::sin(phase)) * 100) / 100
                : std::round((5 + 0.5 * std::sin(phase) + 0.01 * static_cast<double>(i % 13)) * 1000) / 1000;
        if (i % 250'000 >= 1000 && i % 250'000 < 1020)
            r.value = (i % 2) ? kOverload : -kOverload; // an open input: "0L", "-0L"
        if (spikeEvery > 0 && i % spikeEvery == spikeEvery / 2 + 777 && !current) {
            r.value = facts.spikeValue;
            facts.spikeMs.push_back(ms);
        }
        out += CsvLine(MakeDispatchedReading(0, static_cast<int>(index++), WallTimeAt(ms, utcOffset), r));
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), f);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
    facts.lastMs = ms;
    return facts;
}

// Writes rows readings of one function, one every periodMs from startMs, each value(i) (already
// rounded to pointPosition's digits), as one meter's logger writes them.
inline void WriteOneFunctionLog(const std::string& path, std::int64_t rows, std::int64_t startMs,
                                std::int64_t periodMs, std::uint8_t function, std::uint8_t pointPosition,
                                const std::function<double(std::int64_t)>& value, int utcOffset = 3600) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    std::string out = CsvHeader();
    for (std::int64_t i = 0; i < rows; ++i) {
        const Reading r{value(i), pointPosition, function};
        out += CsvLine(MakeDispatchedReading(0, static_cast<int>(i + 1),
                                             WallTimeAt(startMs + i * periodMs, utcOffset), r));
        if (out.size() > (1 << 20)) {
            std::fwrite(out.data(), 1, out.size(), f);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
}

} // namespace zelvox::testing
