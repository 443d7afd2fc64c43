// Sql: a statement of the library's own, as the engines are given it. Its text is SQL that every
// engine reads as it stands (standard forms only; where engines differ, the EngineDialect of the
// connection writes the form); the markers of its bound values are pieces of their own, which
// each engine writes in its own form when it prepares the statement (`?` on a file, `$1`, `$2`,
// ... on a server). Nothing reads the text to find them, so no engine rewrites a statement.
//
// Markers count from 1 in the order they stand, however the statement was put together: a part
// with markers (a filter, a condition from the dialect) joins a larger statement, and its values
// follow those of the part before it.
//
// Library-internal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ledgerkit {

class Sql {
 public:
  // The marker of one bound value.
  struct Value {};

  Sql() = default;
  // The parts in order: texts (which may not hold a `?`: a value is bound through a marker, and
  // a statement written with the file engine's marker would not run on a server), markers
  // (kValue) and other statements. Invalid argument (5) for a text holding a `?`.
  template <class... Parts>
  explicit Sql(Parts&&... parts) {
    (Append(std::forward<Parts>(parts)), ...);
  }

  // A statement that binds nothing, taken as it stands: a host's own SQL (OpenRecordset), in
  // the engine's own dialect, whose `?` are not looked at.
  static Sql Verbatim(std::string_view text) {
    Sql sql;
    sql.text_ = text;
    return sql;
  }

  Sql& operator+=(std::string_view text) { return Append(text); }
  Sql& operator+=(Value) { return Append(Value{}); }
  Sql& operator+=(const Sql& other) { return Append(other); }

  // How many markers the statement holds.
  int Markers() const { return static_cast<int>(markers_.size()); }
  bool empty() const { return text_.empty() && markers_.empty(); }

  // The statement with its markers written as `marker(n)` gives them, n counting from 1.
  template <class MarkerForm>
  std::string Render(MarkerForm&& marker) const {
    std::string out;
    out.reserve(text_.size() + 3 * markers_.size());
    size_t from = 0;
    for (size_t i = 0; i < markers_.size(); ++i) {
      out.append(text_, from, markers_[i] - from);
      out += marker(static_cast<int>(i) + 1);
      from = markers_[i];
    }
    out.append(text_, from, std::string::npos);
    return out;
  }

  bool operator==(const Sql& other) const = default;

  // The statement with `?` for each marker, for messages.
  std::string Shown() const;

 private:
  Sql& Append(std::string_view text);
  Sql& Append(const char* text) { return Append(std::string_view(text)); }
  Sql& Append(const std::string& text) { return Append(std::string_view(text)); }
  Sql& Append(Value);
  Sql& Append(const Sql& other);

  std::string text_;             // the text, markers left out
  std::vector<size_t> markers_;  // where each marker stands in text_, in order
};

inline constexpr Sql::Value kValue{};

// `count` markers separated by commas: "?,?,?" as the engine writes them.
Sql ValueList(size_t count);

inline Sql operator+(Sql left, std::string_view right) { return std::move(left += right); }
inline Sql operator+(Sql left, const char* right) { return std::move(left += std::string_view(right)); }
inline Sql operator+(Sql left, const std::string& right) { return std::move(left += std::string_view(right)); }
inline Sql operator+(Sql left, Sql::Value) { return std::move(left += Sql::Value{}); }
inline Sql operator+(Sql left, const Sql& right) { return std::move(left += right); }
inline Sql operator+(std::string_view left, const Sql& right) { return Sql(left) + right; }
inline Sql operator+(const char* left, const Sql& right) { return Sql(left) + right; }
inline Sql operator+(const std::string& left, const Sql& right) { return Sql(left) + right; }
inline Sql operator+(std::string_view left, Sql::Value) { return Sql(left, Sql::Value{}); }
inline Sql operator+(const char* left, Sql::Value) { return Sql(left, Sql::Value{}); }
inline Sql operator+(const std::string& left, Sql::Value) { return Sql(left, Sql::Value{}); }

}  // namespace ledgerkit
