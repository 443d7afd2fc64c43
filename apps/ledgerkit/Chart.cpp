#include "Chart.h"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "OutputFile.h"
#include "Report.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "common/Text.h"

namespace ledgerkit::cli {

namespace {

std::string KindOf(const Recordset& result, const std::vector<Variant>& row) {
  const Variant& kind = row[result.ColumnIndex("RowKind")];
  return kind.IsNull() ? std::string() : ToText(kind);
}

Currency AmountOf(const Variant& value) { return value.IsNull() ? Currency() : value.AsCurrency(); }

size_t Width(const std::string& text) { return CountCharacters(text); }

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// The width a text of sans-serif at `size` takes at most, as the layout reckons it (0.62 em a
// character: wider than the average glyph, so what is sized to it is not clipped).
double TextWidth(const std::string& text, double size) { return static_cast<double>(Width(text)) * size * 0.62; }

// A round step for about five ticks over `span`: 1, 2, 2.5 or 5 times a power of ten.
double NiceStep(double span) {
  const double raw = span / 5;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / magnitude;
  const double nice = fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 2.5 ? 2.5 : fraction <= 5 ? 5 : 10;
  return nice * magnitude;
}

// A tick value as the axis shows it: grouped, with the decimals the step needs (0 to 4).
std::string TickText(double value, double step) {
  int decimals = 0;
  while (decimals < 4 && std::fabs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals))) > 1e-6) {
    ++decimals;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(value) < 1e-9 ? 0.0 : value);
  std::string shown = text;
  const size_t sign = shown[0] == '-' ? 1 : 0;
  size_t point = shown.find('.');
  if (point == std::string::npos) point = shown.size();
  for (size_t i = point; i > sign + 3; i -= 3) shown.insert(i - 3, ",");
  return shown;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

std::string StatementChartSvg(const Recordset& statement, const std::vector<std::string>& periods,
                              const std::vector<ChartSeries>& series, const std::string& title,
                              const std::string& period_attribute) {
  if (periods.empty()) throw Error::Runtime(kInvalidArgument, "The statement has no period columns to chart.");
  static constexpr const char* kFill[] = {"#2e7d32", "#c62828", "#1565c0", "#6a1b9a", "#ef6c00"};
  // The section totals per series and period, exact.
  std::vector<std::vector<Currency>> amounts(series.size(), std::vector<Currency>(periods.size()));
  const size_t section = statement.ColumnIndex("Section");
  for (const auto& row : statement.Rows()) {
    if (KindOf(statement, row) != "total" || row[section].IsNull()) continue;
    for (size_t s = 0; s < series.size(); ++s) {
      if (ToText(row[section]) != series[s].section) continue;
      for (size_t p = 0; p < periods.size(); ++p) amounts[s][p] = AmountOf(row[statement.ColumnIndex(periods[p])]);
    }
  }
  // The value axis: round ticks over the amounts and zero.
  double low = 0, high = 0;
  for (const auto& line : amounts) {
    for (const Currency amount : line) {
      const double value = static_cast<double>(amount.scaled()) / 10000.0;
      low = std::min(low, value);
      high = std::max(high, value);
    }
  }
  if (high - low <= 0) high = 10;
  const double step = NiceStep(high - low);
  const double axis_low = std::floor(low / step + 1e-9) * step;
  const double axis_high = std::ceil(high / step - 1e-9) * step;
  const bool thousands = std::max(std::fabs(axis_low), std::fabs(axis_high)) >= 10000;
  const double divisor = thousands ? 1000 : 1;
  const std::string unit = thousands ? "Amount (thousands)" : "Amount";
  std::vector<std::pair<double, std::string>> ticks;
  const int tick_count = static_cast<int>(std::lround((axis_high - axis_low) / step));
  size_t widest_tick = 0;
  for (int i = 0; i <= tick_count; ++i) {
    const double value = axis_low + step * i;
    ticks.emplace_back(value, TickText(value / divisor, step / divisor));
    widest_tick = std::max(widest_tick, Width(ticks.back().second));
  }
  // Bars as wide as their widest label (within bounds), so labels fit where they can.
  std::vector<std::vector<std::string>> labels(series.size());
  double widest_label = 0;
  for (size_t s = 0; s < series.size(); ++s) {
    for (const Currency amount : amounts[s]) {
      labels[s].push_back(StatementAmountText(amount));
      widest_label = std::max(widest_label, TextWidth(labels[s].back(), 10));
    }
  }
  constexpr double kTitleSize = 14, kMargin = 12, kPlotTop = 74, kPlotHeight = 240, kGap = 14;
  const double bar_width = std::clamp(widest_label + 4, 24.0, 90.0);
  double widest_period = 0;
  for (const std::string& name : periods) widest_period = std::max(widest_period, TextWidth(name, 10));
  const double group_width = std::max(bar_width * static_cast<double>(series.size()) + 2 * kGap, widest_period + kGap);
  const double left = kMargin + 18 + TextWidth(std::string(widest_tick, '0'), 10) + 8;
  const double plot_width = group_width * static_cast<double>(periods.size());
  double legend_width = 0;
  for (const ChartSeries& item : series) legend_width += 14 + TextWidth(item.label, 10) + 16;
  const double title_width = TextWidth(title, kTitleSize);
  const double width = std::ceil(std::max({left + plot_width + kMargin, title_width + 2 * kMargin, left + legend_width + kMargin}));
  const double plot_bottom = kPlotTop + kPlotHeight;
  const double height = plot_bottom + 48;
  const double scale = kPlotHeight / (axis_high - axis_low);
  const double zero_y = kPlotTop + axis_high * scale;
  auto y_of = [&](double value) { return kPlotTop + (axis_high - value) * scale; };

  std::ostringstream svg;
  svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height << "\" viewBox=\"0 0 "
      << width << " " << height << "\" font-family=\"sans-serif\">\n"
      << "  <title>" << XmlEscaped(title) << "</title>\n"
      << "  <rect width=\"" << width << "\" height=\"" << height << "\" fill=\"#ffffff\"/>\n"
      << "  <text class=\"title\" x=\"" << kMargin << "\" y=\"24\" font-size=\"" << kTitleSize << "\">" << XmlEscaped(title)
      << "</text>\n";
  // The legend.
  double legend_x = left;
  for (size_t s = 0; s < series.size(); ++s) {
    svg << "  <rect class=\"legend\" x=\"" << Number(legend_x) << "\" y=\"36\" width=\"10\" height=\"10\" fill=\""
        << kFill[s % 5] << "\"/><text class=\"legend-label\" x=\"" << Number(legend_x + 14)
        << "\" y=\"45\" font-size=\"10\">" << XmlEscaped(series[s].label) << "</text>\n";
    legend_x += 14 + TextWidth(series[s].label, 10) + 16;
  }
  // The value axis: its unit, gridlines and tick labels.
  svg << "  <text class=\"axis-title\" x=\"" << kMargin + 10 << "\" y=\"" << Number(kPlotTop + kPlotHeight / 2)
      << "\" font-size=\"10\" text-anchor=\"middle\" transform=\"rotate(-90 " << kMargin + 10 << " "
      << Number(kPlotTop + kPlotHeight / 2) << ")\">" << unit << "</text>\n";
  for (const auto& [value, text] : ticks) {
    const double y = y_of(value);
    svg << "  <line class=\"grid\" x1=\"" << Number(left) << "\" y1=\"" << Number(y) << "\" x2=\"" << Number(left + plot_width)
        << "\" y2=\"" << Number(y) << "\" stroke=\"#d0d0d0\" stroke-width=\"1\"/>"
        << "<text class=\"tick-label\" x=\"" << Number(left - 6) << "\" y=\"" << Number(y + 3.5)
        << "\" font-size=\"10\" text-anchor=\"end\">" << text << "</text>\n";
  }
  svg << "  <line class=\"axis\" x1=\"" << Number(left) << "\" y1=\"" << Number(kPlotTop) << "\" x2=\"" << Number(left)
      << "\" y2=\"" << Number(plot_bottom) << "\" stroke=\"#000000\" stroke-width=\"1\"/>\n";
  // The bars, their labels and the period labels.
  for (size_t p = 0; p < periods.size(); ++p) {
    const double group_x = left + group_width * static_cast<double>(p);
    const double bars_x = group_x + (group_width - bar_width * static_cast<double>(series.size())) / 2;
    for (size_t s = 0; s < series.size(); ++s) {
      const Currency amount = amounts[s][p];
      const double value = static_cast<double>(amount.scaled()) / 10000.0;
      const double bar_height = std::fabs(value) * scale;
      const double y = value < 0 ? zero_y : zero_y - bar_height;
      const double x = bars_x + bar_width * static_cast<double>(s);
      svg << "  <rect class=\"bar\" " << period_attribute << "=\"" << XmlEscaped(periods[p]) << "\" data-class=\""
          << XmlEscaped(series[s].label) << "\" data-amount=\"" << amount.ToText() << "\" data-period=\""
          << XmlEscaped(periods[p]) << "\" x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" width=\""
          << Number(bar_width) << "\" height=\"" << Number(bar_height) << "\" fill=\"" << kFill[s % 5] << "\"><title>"
          << XmlEscaped(periods[p] + " " + series[s].label + ": " + labels[s][p]) << "</title></rect>\n";
      if (TextWidth(labels[s][p], 10) <= bar_width) {
        const double label_y = value < 0 ? y + bar_height + 11 : y - 3;
        svg << "  <text class=\"bar-label\" data-class=\"" << XmlEscaped(series[s].label) << "\" data-period=\""
            << XmlEscaped(periods[p]) << "\" x=\"" << Number(x + bar_width / 2) << "\" y=\"" << Number(label_y)
            << "\" font-size=\"10\" text-anchor=\"middle\">" << labels[s][p] << "</text>\n";
      }
    }
    svg << "  <text class=\"period-label\" x=\"" << Number(group_x + group_width / 2) << "\" y=\""
        << Number(plot_bottom + 30) << "\" font-size=\"10\" text-anchor=\"middle\">" << XmlEscaped(periods[p])
        << "</text>\n";
  }
  svg << "  <line class=\"zero\" x1=\"" << Number(left) << "\" y1=\"" << Number(zero_y) << "\" x2=\""
      << Number(left + plot_width) << "\" y2=\"" << Number(zero_y) << "\" stroke=\"#000000\" stroke-width=\"1\"/>\n"
      << "</svg>\n";
  return svg.str();
}

void WriteChartFile(const std::string& target, const std::string& text) {
  OutputFile file(target);
  file.stream() << text;
  file.Commit();
}

}  // namespace ledgerkit::cli
