#include "ledgerkit/common/Date.h"

#include <cstdio>
#include <ctime>

#include "ledgerkit/common/Error.h"

namespace ledgerkit {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 0001-01-01 to the given civil date (proleptic Gregorian), after H. Hinnant's
// days_from_civil, shifted so that day 0 is 0001-01-01.
int64_t DaysFromCivil(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;  // y >= 0 for years 1..9999
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // 306 days lie between 0000-03-01 (day 0 of era 0) and 0001-01-01.
  return static_cast<int64_t>(era) * 146097 + doe - 306;
}

struct Civil {
  int year, month, day;
};

Civil CivilFromDays(int64_t days) {
  const int64_t z = days + 306;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day};
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ValidCivil(int year, int month, int day, int hour, int minute, int second) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59;
}

// Reads exactly `count` decimal digits at `pos`; advances pos. Returns -1 when they are not digits.
int ReadDigits(std::string_view text, size_t& pos, size_t count) {
  if (pos + count > text.size()) return -1;
  int value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return value;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

Date Date::FromCivil(int year, int month, int day, int hour, int minute, int second) {
  if (!ValidCivil(year, month, day, hour, minute, second)) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d is not a valid date and time.", year,
                  month, day, hour, minute, second);
    throw Error::Runtime(kInvalidArgument, buffer);
  }
  return Date(DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

Date Date::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec > 59 ? 59 : local.tm_sec);
}

std::optional<Date> Date::Parse(std::string_view text) {
  size_t pos = 0;
  const int year = ReadDigits(text, pos, 4);
  if (year < 0 || !Expect(text, pos, '-')) return std::nullopt;
  const int month = ReadDigits(text, pos, 2);
  if (month < 0 || !Expect(text, pos, '-')) return std::nullopt;
  const int day = ReadDigits(text, pos, 2);
  if (day < 0) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (pos < text.size()) {
    if (!Expect(text, pos, ' ') && !Expect(text, pos, 'T')) return std::nullopt;
    hour = ReadDigits(text, pos, 2);
    if (hour < 0 || !Expect(text, pos, ':')) return std::nullopt;
    minute = ReadDigits(text, pos, 2);
    if (minute < 0) return std::nullopt;
    if (Expect(text, pos, ':')) {
      second = ReadDigits(text, pos, 2);
      if (second < 0) return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
  }
  if (!ValidCivil(year, month, day, hour, minute, second)) return std::nullopt;
  return FromCivil(year, month, day, hour, minute, second);
}

int Date::year() const { return CivilFromDays(seconds_ / kSecondsPerDay).year; }
int Date::month() const { return CivilFromDays(seconds_ / kSecondsPerDay).month; }
int Date::day() const { return CivilFromDays(seconds_ / kSecondsPerDay).day; }

std::string Date::ToStoredText() const {
  const Civil civil = CivilFromDays(seconds_ / kSecondsPerDay);
  // "YYYY-MM-DD hh:mm:ss", written digit by digit: every posted row binds a date this way.
  std::string text = "0000-00-00 00:00:00";
  const auto put = [&text](size_t end, int value, int digits) {
    for (int i = 0; i < digits; ++i, value /= 10) text[end - i] = static_cast<char>('0' + value % 10);
  };
  put(3, civil.year, 4);  // a Date's year is 1 to 9999
  put(6, civil.month, 2);
  put(9, civil.day, 2);
  put(12, hour(), 2);
  put(15, minute(), 2);
  put(18, second(), 2);
  return text;
}

std::string Date::ToText() const {
  std::string text = ToStoredText();
  if (IsMidnight()) text.resize(10);
  return text;
}

}  // namespace ledgerkit
