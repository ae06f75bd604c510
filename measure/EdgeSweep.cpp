#include "measure/EdgeSweep.h"

#include <algorithm>
#include <cstdlib>

namespace tc::measure {

namespace {

// A pair that differs from its successor by this much is a slip, not the edge.
constexpr std::int32_t kCornerJump = 150;

bool fits(std::span<std::uint16_t> a, std::span<std::uint16_t> b, std::span<bool> c,
          std::span<bool> d, int line) {
    const auto n = static_cast<std::size_t>(line);
    return line >= 1 && n <= a.size() && n <= b.size() && n <= c.size() && n <= d.size();
}

int storedCount(int count) {
    return std::clamp(count, 0, kSweepStoreSize);
}

// Feeds one value on `line` to `run`. A run only stores samples of inner lines, and a line
// change closes it: its trimmed average replaces the extreme of the line it was on.
void runStep(EdgeRun& run, int line, int lineCount, std::int32_t value,
             std::span<std::uint16_t> extreme) {
    if (run.Line == 0) {
        run.Line = line;  // the opening sample itself is not stored
        return;
    }
    if (line == run.Line) {
        if (line != 1 && line != lineCount && run.Count < kSweepStoreSize) {
            run.Samples[static_cast<std::size_t>(run.Count)] = value;
            ++run.Count;
        }
        return;
    }
    // An empty run holds on to its line: a run opened on an end line stays there until the
    // trackers are reset, so the end lines never get an average from this side.
    if (run.Count == 0) return;
    const auto index = static_cast<std::size_t>(run.Line - 1);
    // The line counts may have shrunk since the run was opened.
    if (run.Line != 1 && run.Line != lineCount && run.Line >= 1 && index < extreme.size())
        extreme[index] = trimmedAverage(run.Samples, run.Count);
    run.Count = 0;
    run.Line = line;
}

void appendPair(CornerSamples* list, std::int32_t x, std::int32_t y) {
    if (list == nullptr || list->Count < 0 || list->Count >= kSweepStoreSize) return;
    list->Pairs[static_cast<std::size_t>(list->Count)] = {x, y};
    ++list->Count;
}

}  // namespace

std::optional<TestSample> decodeTestSample(std::span<const std::uint8_t> report) {
    if (report.size() < 8) return std::nullopt;
    TestSample s;
    s.p = report[2];
    s.q = report[3];
    s.X = static_cast<std::uint16_t>(report[4] | (report[5] << 8));
    s.Y = static_cast<std::uint16_t>(report[6] | (report[7] << 8));
    return s;
}

std::uint16_t trimmedAverage(std::span<const std::int32_t> samples, int count) {
    const int n = std::clamp(count, 0, static_cast<int>(samples.size()));
    if (n == 0) return 0;
    int first = 0;
    int last = n - 1;
    if (n >= 4) {
        first = n / 4;
        last = (3 * n) / 4;
    }
    std::int64_t sum = 0;
    for (int k = first; k <= last; ++k) sum += samples[static_cast<std::size_t>(k)];
    return static_cast<std::uint16_t>(sum / (last - first + 1));
}

std::pair<std::int32_t, std::int32_t> AverageCornerSamples(CornerSamples& list) {
    const int n = storedCount(list.Count);
    auto& pairs = list.Pairs;
    std::int32_t minY = 0x0FFF, maxY = 0, minX = 0x0FFF, maxX = 0;
    for (int k = 0; k + 1 < n; ++k) {
        auto& cur = pairs[static_cast<std::size_t>(k)];
        const auto& next = pairs[static_cast<std::size_t>(k + 1)];
        if (next.Y != 0 && cur.Y != 0) {
            if (std::abs(cur.Y - next.Y) >= kCornerJump) {
                cur = {0, 0};
            } else {
                minY = std::min(minY, cur.Y);
                maxY = std::max(maxY, cur.Y);
            }
        }
        if (next.X != 0 && cur.X != 0) {
            if (std::abs(cur.X - next.X) >= kCornerJump) {
                cur = {0, 0};
            } else {
                minX = std::min(minX, cur.X);
                maxX = std::max(maxX, cur.X);
            }
        }
    }
    // Negative when nothing widened the limits, which leaves the bands empty.
    const std::int32_t qY = (maxY - minY) / 4;
    const std::int32_t qX = (maxX - minX) / 4;
    std::int64_t sumX = 0, sumY = 0;
    int countX = 0, countY = 0;
    for (int k = 0; k < n; ++k) {
        const auto& pair = pairs[static_cast<std::size_t>(k)];
        if (minY + qY < pair.Y && pair.Y < maxY - qY) {
            sumX += pair.X;
            ++countX;
        }
        if (minX + qX < pair.X && pair.X < maxX - qX) {
            sumY += pair.Y;
            ++countY;
        }
    }
    const auto a = countX == 0 ? 0 : static_cast<std::int32_t>(sumX / countX);
    const auto b = countY == 0 ? 0 : static_cast<std::int32_t>(sumY / countY);
    return {a, b};
}

void EdgeSweep::clearTrackers() {
    for (EdgeRun* run : {&RowMinRun, &RowMaxRun, &ColMinRun, &ColMaxRun}) {
        run->Line = 0;
        run->Count = 0;
        run->Samples.fill(0);
    }
    for (CornerSamples* list : {&Corner11, &CornerN1, &CornerNM, &Corner1M}) {
        list->Count = 0;
        list->Pairs.fill({});
    }
}

void EdgeSweep::resetRunLines() {
    for (EdgeRun* run : {&RowMinRun, &RowMaxRun, &ColMinRun, &ColMaxRun}) run->Line = 0;
}

bool EdgeSweep::ProcessTestSample(const TestSample& sample, LineCounts counts, SweepExtremes r) {
    const int p = sample.p;
    const int q = sample.q;
    const int N = counts.rows;
    const int M = counts.columns;
    if (p < 1 || q < 1 || p > N || q > M) return false;
    if (!fits(r.RowMin, r.RowMax, r.RowMinSeen, r.RowMaxSeen, p) ||
        !fits(r.ColMin, r.ColMax, r.ColMinSeen, r.ColMaxSeen, q))
        return false;
    const auto row = static_cast<std::size_t>(p - 1);
    const auto col = static_cast<std::size_t>(q - 1);
    const std::uint16_t X = sample.X;
    const std::uint16_t Y = sample.Y;
    bool touched = false;

    if (Y != 0 && q >= M - EdgeWidthY + 1) {
        appendPair(p == 1 ? &Corner1M : p == N ? &CornerNM : nullptr, X, Y);
        r.RowMin[row] = std::min(r.RowMin[row], Y);
        r.RowMinSeen[row] = true;
        touched = true;
        runStep(RowMinRun, p, N, Y, r.RowMin);
    }
    if (Y != 0 && q <= EdgeWidthY) {
        appendPair(p == 1 ? &Corner11 : p == N ? &CornerN1 : nullptr, X, Y);
        r.RowMax[row] = std::max(r.RowMax[row], Y);
        r.RowMaxSeen[row] = true;
        touched = true;
        runStep(RowMaxRun, p, N, Y, r.RowMax);
    }
    if (X != 0 && p >= N - EdgeWidthX + 1) {
        r.ColMin[col] = std::min(r.ColMin[col], X);
        r.ColMinSeen[col] = true;
        touched = true;
        runStep(ColMinRun, q, M, X, r.ColMin);
    }
    if (X != 0 && p <= EdgeWidthX) {
        r.ColMax[col] = std::max(r.ColMax[col], X);
        r.ColMaxSeen[col] = true;
        touched = true;
        runStep(ColMaxRun, q, M, X, r.ColMax);
    }
    RedrawPending = RedrawPending || touched;
    return touched;
}

void EdgeSweep::RefineCornerLines(std::uint16_t adcReference, LineCounts counts, SweepExtremes r) {
    const std::int32_t half = adcReference / 2;
    auto put = [half](std::span<std::uint16_t> min, std::span<std::uint16_t> max, int line,
                      int lineCount, std::int32_t value) {
        const auto n = static_cast<std::size_t>(line);
        if (line < 1 || line > lineCount || n > min.size() || n > max.size()) return;
        (value > half ? max : min)[n - 1] = static_cast<std::uint16_t>(value);
    };
    const int N = counts.rows;
    const int M = counts.columns;
    struct Target {
        CornerSamples* list;
        int column;
        int row;
    };
    for (const Target& t : {Target{&Corner11, 1, 1}, Target{&CornerN1, 1, N},
                            Target{&CornerNM, M, N}, Target{&Corner1M, M, 1}}) {
        const auto [a, b] = AverageCornerSamples(*t.list);
        put(r.ColMin, r.ColMax, t.column, M, a);
        put(r.RowMin, r.RowMax, t.row, N, b);
    }
}

}  // namespace tc::measure
