#include "pipeline/coverage.h"

#include "pipeline/build_driver.h"
#include "pipeline/hires_tiles.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace zelvo {

namespace {

// Keeps the build's last line and the reason of a failure; asks `progress` whether to go on.
class QuietLog : public BuildLog {
public:
  explicit QuietLog(ProgressSink* progress) : progress_(progress) {}
  void ClearLog() override { last.clear(); }
  void AppendLogLine(const std::string& text) override { last = text; }
  void FailureReason(const Error& why) override { reason = why; }
  bool shouldContinue() override { return !cancelRequested(progress_); }
  std::string last;
  std::optional<Error> reason;

private:
  ProgressSink* progress_;
};

} // namespace

void CoverageCounter::addScreen(const std::string& name, const HiResTileTable& table,
                                const PreparedScreen& screen, bool painted) {
  Screen& added = screens_.emplace_back();
  added.name = name;
  added.squares.reserve(screen.squares.size());
  for (const ScreenSquare& square : screen.squares) {
    std::uint32_t offset = 0;
    if (!hiResTileOffset(table, square.entry.group, square.entry.index, offset)) continue;
    // A square the image does not wholly hold is not cut: never paint.
    const bool cut = painted && squareIsCut(screen, square, table.scale);
    added.squares.push_back({offset, cut && !square.asExported, square.left, square.top});
  }
}

Coverage CoverageCounter::finish(const HiResTileTable& table, const PaintLedger& ledger,
                                 std::size_t nextCount) const {
  Coverage out;
  out.squareEdge = 8u * table.scale;
  auto isPainted = [&](std::uint32_t offset) { return ledger.painted.count(offset) != 0; };
  // Entries that share a stored tile are painted together.
  std::unordered_map<std::uint32_t, std::size_t> entriesOf;
  for (std::uint32_t i = 0; i < table.entryCount && table.entryOffsets; ++i)
    ++entriesOf[table.entryOffsets[i]];
  out.tilesTotal = table.entryCount;
  for (const auto& [offset, entries] : entriesOf)
    if (isPainted(offset)) out.tilesPainted += entries;

  std::vector<std::unordered_set<std::uint32_t>> left(screens_.size()); // unpainted tiles per screen
  for (std::size_t s = 0; s < screens_.size(); ++s) {
    ScreenCoverage& screen = out.screens.emplace_back();
    screen.screen = screens_[s].name;
    screen.squares.reserve(screens_[s].squares.size());
    for (const Square& square : screens_[s].squares) {
      SquareKind kind = SquareKind::Unpainted;
      if (square.here) {
        kind = SquareKind::PaintedHere;
        ++screen.paintedHere;
      } else if (isPainted(square.offset)) {
        kind = SquareKind::PaintedElsewhere;
        ++screen.paintedElsewhere;
      } else {
        ++screen.unpainted;
        left[s].insert(square.offset);
      }
      screen.squares.push_back({square.left, square.top, kind});
    }
    out.cellsTotal += screens_[s].squares.size();
    out.cellsPainted += screen.paintedHere + screen.paintedElsewhere;
  }

  // Greedy: the screen that adds the most unpainted entries, then the next given those.
  std::unordered_set<std::uint32_t> covered;
  while (out.next.size() < nextCount) {
    std::size_t best = 0, bestGain = 0;
    for (std::size_t s = 0; s < left.size(); ++s) {
      std::size_t gain = 0;
      for (std::uint32_t offset : left[s])
        if (!covered.count(offset)) gain += entriesOf[offset];
      if (gain > bestGain) {
        best = s;
        bestGain = gain;
      }
    }
    if (bestGain == 0) break;
    out.next.push_back({screens_[best].name, bestGain});
    covered.insert(left[best].begin(), left[best].end());
  }
  return out;
}

std::string groupedNumber(std::size_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string coverageText(const Coverage& coverage) {
  const std::size_t percent = coverage.tilesTotal ? coverage.tilesPainted * 100 / coverage.tilesTotal : 0;
  return groupedNumber(coverage.tilesPainted) + " of " + groupedNumber(coverage.tilesTotal) +
         " tile entries painted (" + std::to_string(percent) + " %)";
}

Result<Coverage> countFolderCoverage(const std::string& folder, int scale, unsigned threads,
                                     ProgressSink* progress) {
  QuietLog log(progress);
  BuildReport report;
  BuildJob job;
  job.log = &log;
  job.report = &report;
  job.inputFolder = folder;
  job.scale = std::uint8_t(scale);
  job.threads = threads;
  job.screensOnly = true;
  if (RunBuild(job) && report.coverage) return std::move(*report.coverage);
  const ErrorCause cause = log.reason ? log.reason->cause : ErrorCause::InvalidArgument;
  return makeError(cause, {}, log.last + (log.reason ? ": " + log.reason->message() : std::string()));
}

} // namespace zelvo
