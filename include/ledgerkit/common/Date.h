// Date: a calendar date and wall-clock time in whole seconds, without a time zone.
//
// Stored as seconds from 0001-01-01 00:00:00 in the proleptic Gregorian calendar; years 1 to
// 9999 are representable. The text forms read and written are those of the stored form
// ("YYYY-MM-DD HH:MM:SS"); parsing lives in common/Convert.h.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ledgerkit {

class Date {
 public:
  constexpr Date() = default;
  // The given civil date and time; fails with the runtime Invalid argument error (5) when a
  // field is out of range (year 1-9999, month 1-12, day within the month, hour 0-23, minute
  // and second 0-59).
  static Date FromCivil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  // The local wall-clock time now, truncated to the second.
  static Date Now();
  // Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a 'T' may replace the
  // blank); nothing else. Returns nothing for any other text or an impossible date.
  static std::optional<Date> Parse(std::string_view text);

  constexpr int64_t seconds() const { return seconds_; }
  static constexpr Date FromSeconds(int64_t seconds) { return Date(seconds); }

  int year() const;
  int month() const;
  int day() const;
  int hour() const { return static_cast<int>(seconds_ % 86400 / 3600); }
  int minute() const { return static_cast<int>(seconds_ % 3600 / 60); }
  int second() const { return static_cast<int>(seconds_ % 60); }
  bool IsMidnight() const { return seconds_ % 86400 == 0; }

  // The stored form, always with the time: "2026-03-31 14:05:00".
  std::string ToStoredText() const;
  // The display form: the stored form, or only "YYYY-MM-DD" at midnight.
  std::string ToText() const;

  constexpr auto operator<=>(const Date&) const = default;

 private:
  constexpr explicit Date(int64_t seconds) : seconds_(seconds) {}
  int64_t seconds_ = 0;
};

}  // namespace ledgerkit
