#include "archive/Archive.h"

#include <algorithm>

namespace archive {

StoredRun StoredRunOf(const report::Run& run) {
  StoredRun r;
  r.figures = report::FiguresOf(run);
  // Bins the file does not print hold no access. A row's bin is its time
  // x 2, under 65 536 rows by the reader's widths.
  int top = -1;
  for (const report::HistogramRow& row : run.histogram) top = std::max(top, row.bin);
  if (top >= 0 && top < (1 << 16)) {
    r.readyBins.assign(static_cast<size_t>(top) + 1, 0);
    for (const report::HistogramRow& row : run.histogram)
      if (row.bin >= 0) r.readyBins[static_cast<size_t>(row.bin)] += row.ready[report::kAll];
  }
  return r;
}

}  // namespace archive
