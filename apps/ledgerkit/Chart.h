// The bar chart of a statement by period (`ledgerkit report ... --chart FILE.svg`) as SVG, and its
// writing to a file whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "ledgerkit/common/Recordset.h"

namespace ledgerkit::cli {

// One bar series of a chart: the statement's "total" row of `section` ("Income", "Expenses",
// "Assets", ...) shown as `label`.
struct ChartSeries {
  std::string label;
  std::string section;
};

// A bar chart of a statement by period: for each period column in `periods` (the statement's
// Currency columns of those names) one bar per series, on a value axis with round tick values,
// gridlines and its unit, each bar labelled with its amount where the label fits, and a legend.
// The SVG grows with the number of periods and is at least as wide as its title. Each bar is a
// <rect class="bar"> carrying `period_attribute` (e.g. data-month), data-class, data-amount (the
// exact amount as text) and data-period. Fails with Invalid argument when `periods` is empty.
// Geometry only is computed in doubles; the amounts stay exact.
std::string StatementChartSvg(const Recordset& statement, const std::vector<std::string>& periods,
                              const std::vector<ChartSeries>& series, const std::string& title,
                              const std::string& period_attribute);

// Writes `text` to `target` whole or not at all (OutputFile: a temporary file beside it, renamed
// onto it once complete; "-" is standard output); Invalid argument naming the file when it
// cannot be written, an existing `target` left as it was.
void WriteChartFile(const std::string& target, const std::string& text);

}  // namespace ledgerkit::cli
