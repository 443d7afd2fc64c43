#include "common/Sql.h"

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

Sql& Sql::Append(std::string_view text) {
  if (text.find('?') != std::string_view::npos) {
    throw Error::Runtime(kInvalidArgument, "A statement's text holds a '?' where a value's marker (kValue) belongs: " +
                                               std::string(text));
  }
  text_ += text;
  return *this;
}

Sql& Sql::Append(Value) {
  markers_.push_back(text_.size());
  return *this;
}

Sql& Sql::Append(const Sql& other) {
  const size_t offset = text_.size();
  text_ += other.text_;
  for (const size_t at : other.markers_) markers_.push_back(offset + at);
  return *this;
}

std::string Sql::Shown() const {
  return Render([](int) { return std::string("?"); });
}

Sql ValueList(size_t count) {
  Sql list;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) list += ",";
    list += kValue;
  }
  return list;
}

}  // namespace ledgerkit
