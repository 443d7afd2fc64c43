#include "ledgerkit/automation/RpcBridge.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cstring>
#include <istream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "ledgerkit/automation/ClassRegistry.h"
#include "automation/JsonDepth.h"
#include "automation/OpenRpc.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/Recordset.h"
#include "common/Text.h"
#include "ledgerkit/entities/Entity.h"
#include "ledgerkit/entities/EntityCollection.h"

namespace ledgerkit {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerError = -32000;
constexpr int kMaxDepth = 100;

// A failure of the protocol itself: the JSON-RPC code and the runtime number of its data triple.
// A refusal that concerns a member's call knows the member ("Class.Member"), and one that
// concerns an argument its position, and then its name when the member is known.
struct ProtocolError {
  int code;
  int32_t number;
  std::string message;
  std::optional<std::string> argument = std::nullopt;
  std::optional<std::string> operation = std::nullopt;
};

[[noreturn]] void Refuse(int code, int32_t number, std::string message) {
  throw ProtocolError{code, number, std::move(message)};
}

// The error answer's object. Its data holds the triple, then the message for a person (text),
// then the argument at fault and the operation that failed when they are known.
Json ErrorObject(int64_t code, int32_t number, const std::string& source, const std::string& description,
                 const std::string& text, const std::optional<std::string>& argument = std::nullopt,
                 const std::optional<std::string>& operation = std::nullopt) {
  Json data = Json::object();
  data["number"] = number;
  data["source"] = source;
  data["description"] = description;
  data["text"] = text;
  if (argument) data["argument"] = *argument;
  if (operation) data["operation"] = *operation;
  Json error = Json::object();
  error["code"] = code;
  error["message"] = description;
  error["data"] = std::move(data);
  return error;
}

Json Response(const Json& id, const char* member, Json body) {
  Json response = Json::object();
  response["jsonrpc"] = "2.0";
  response["id"] = id;
  response[member] = std::move(body);
  return response;
}

bool IsValidId(const Json& id) { return id.is_string() || id.is_number() || id.is_null(); }

// A caller's JSON value as an error description shows it: compact, and cut when long.
std::string Shown(const Json& value) {
  return ExcerptForMessage(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json ProtocolErrorResponse(int code, int32_t number, const std::string& message) {
  const Error error = Error::Runtime(number, message);
  return Response(nullptr, "error",
                  ErrorObject(code, number, error.source(), error.description(), MessageForPerson(error)));
}

// The first character that is not JSON white space, or 0 when there is none.
char FirstSignificant(std::string_view text) {
  const size_t at = text.find_first_not_of(" \t\r\n");
  return at == std::string_view::npos ? '\0' : text[at];
}

// The lines of a stream, read a chunk at a time: a line longer than the limit is passed over
// without being kept, so that no line costs more memory than the limit. A chunk is taken only
// from what the stream already has buffered, so a client that sends one line and waits for its
// answer is answered.
class LineReader {
 public:
  enum class Status { kLine, kTooLong, kEnd };

  LineReader(std::istream& in, size_t max_line)
      : in_(*in.rdbuf()),
        max_line_(max_line),
        kept_(max_line == std::numeric_limits<size_t>::max() ? max_line : max_line + 1),
        chunk_(size_t{64} << 10) {}

  // The next line, without its line break (and without a carriage return before it).
  Status Next(std::string& line) {
    line.clear();
    bool any = false;
    bool too_long = false;
    while (Fill()) {
      any = true;
      const char* start = chunk_.data() + begin_;
      const size_t available = end_ - begin_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
      const size_t part = newline != nullptr ? static_cast<size_t>(newline - start) : available;
      if (!too_long && part > kept_ - line.size()) {
        too_long = true;
        std::string().swap(line);
      }
      if (!too_long) line.append(start, part);
      begin_ += part + (newline != nullptr ? 1 : 0);
      if (newline != nullptr) break;
    }
    if (!any) return Status::kEnd;
    if (!too_long && !line.empty() && line.back() == '\r') line.pop_back();
    if (too_long || line.size() > max_line_) {
      std::string().swap(line);
      return Status::kTooLong;
    }
    return Status::kLine;
  }

 private:
  // False at end of input; otherwise the chunk has at least one unread byte.
  bool Fill() {
    if (begin_ < end_) return true;
    if (in_.sgetc() == std::streambuf::traits_type::eof()) return false;
    const std::streamsize buffered =
        std::min<std::streamsize>(in_.in_avail(), static_cast<std::streamsize>(chunk_.size()));
    begin_ = 0;
    end_ = static_cast<size_t>(in_.sgetn(chunk_.data(), std::max<std::streamsize>(buffered, 1)));
    return end_ > 0;
  }

  std::streambuf& in_;
  const size_t max_line_;
  const size_t kept_;  // the limit and one byte for the carriage return of a CR LF line break
  std::vector<char> chunk_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// Error descriptions are bounded before they are sent: an operation or the engine may have
// copied a caller's whole value into one (a 5 MB file name, 10 MB of SQL). Each caller's text
// longer than kQuotedCharacters that occurs in the description is replaced by its quoted excerpt,
// and what is still longer than kLongestDescription keeps only its head and its tail (where the
// error marker and number stand), so that even a fragment of a caller's value (a column name
// cut out of the SQL) is bounded.
constexpr size_t kLongestDescription = 600;
constexpr size_t kKeptHead = 140;
constexpr size_t kKeptTail = 60;
// Bytes of description the replacement may scan for one request before it leaves the rest to
// the head-and-tail cut: a request cannot make it quadratic by sending many long texts.
constexpr size_t kReplacementScanBudget = size_t{256} << 20;

// Every text of `value` at any depth, member names too, that is longer than kQuotedCharacters
// characters.
void CollectLongTexts(const Json& value, std::vector<std::string_view>& texts) {
  auto consider = [&texts](std::string_view text) {
    if (text.size() > kQuotedCharacters && CountCharacters(text) > kQuotedCharacters) texts.push_back(text);
  };
  if (value.is_string()) {
    consider(value.get_ref<const std::string&>());
  } else if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      consider(key);
      CollectLongTexts(member, texts);
    }
  } else if (value.is_array()) {
    for (const Json& element : value) CollectLongTexts(element, texts);
  }
}

// `text` with every occurrence of `needle` replaced by `replacement`, leftmost first and not
// overlapping. glibc's memmem runs in linear time for long needles (two-way matching), and each
// search starts after the last hit, so the whole is linear in the text.
std::string ReplaceOccurrences(const std::string& text, std::string_view needle, std::string_view replacement) {
  std::string out;
  size_t from = 0;
  for (;;) {
    const void* hit = ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    if (hit == nullptr) break;
    const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    out.append(text, from, at - from);
    out += replacement;
    from = at + needle.size();
  }
  if (from == 0) return text;
  out.append(text, from, std::string::npos);
  return out;
}

// The byte offset after the first `characters` characters of `text` (its size when shorter).
size_t OffsetAfterCharacters(std::string_view text, size_t characters) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u) continue;
    if (seen == characters) return i;
    ++seen;
  }
  return text.size();
}

// The byte offset where the last `characters` characters of `text` begin (0 when shorter).
size_t OffsetOfLastCharacters(std::string_view text, size_t characters) {
  size_t seen = 0;
  for (size_t i = text.size(); i > 0; --i) {
    if ((static_cast<unsigned char>(text[i - 1]) & 0xC0u) == 0x80u) continue;
    if (++seen == characters) return i - 1;
  }
  return 0;
}

// The description as the bridge sends it for a failure of `request` (see kLongestDescription).
std::string BoundedDescription(std::string description, const Json& request) {
  if (description.size() > kQuotedCharacters && request.is_object()) {
    std::vector<std::string_view> texts;
    if (request.contains("method")) CollectLongTexts(request["method"], texts);
    if (request.contains("params")) CollectLongTexts(request["params"], texts);
    // The longest first, so a text that holds a shorter one is replaced whole.
    std::sort(texts.begin(), texts.end(),
              [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    size_t scanned = 0;
    for (const std::string_view text : texts) {
      if (text.size() > description.size()) continue;
      scanned += description.size();
      if (scanned > kReplacementScanBudget) break;
      description = ReplaceOccurrences(description, text, QuoteForMessage(text));
    }
  }
  if (description.size() <= kLongestDescription) return description;
  const size_t characters = CountCharacters(description);
  if (characters <= kLongestDescription) return description;
  const size_t head_end = OffsetAfterCharacters(description, kKeptHead);
  const size_t tail_start = OffsetOfLastCharacters(description, kKeptTail);
  std::string bounded = description.substr(0, head_end);
  bounded += " [... ";
  bounded += std::to_string(characters - kKeptHead - kKeptTail);
  bounded += " characters left out ...] ";
  bounded += std::string_view(description).substr(tail_start);
  return bounded;
}

// Sizes the byte budget reckons with: what a held object costs beside its texts. They follow
// the real layout loosely (a Variant, a map node, a shared_ptr's control block) so that the
// reckoning grows with the memory the objects really take.
constexpr size_t kHeldObjectBytes = 160;
constexpr size_t kValueBytes = sizeof(Variant) + 16;
constexpr size_t kCollectionEntryBytes = 64;
constexpr size_t kColumnBytes = sizeof(FieldInfo) + 16;
constexpr size_t kRowBytes = 3 * sizeof(void*) + 16;

size_t TextBytes(const Variant& value) { return value.type() == VarType::kString ? value.AsString().size() : 0; }

// The bytes the budget charges for holding `object` (a collection: with its items, which it
// keeps alive however their own handles are released).
size_t ReckonedBytes(Dispatch& object) {
  size_t bytes = kHeldObjectBytes;
  if (const auto* recordset = dynamic_cast<const Recordset*>(&object)) {
    for (const FieldInfo& field : recordset->Columns()) bytes += kColumnBytes + field.name.size();
    for (const auto& row : recordset->Rows()) {
      bytes += kRowBytes;
      for (const Variant& cell : row) bytes += kValueBytes + TextBytes(cell);
    }
  } else if (const auto* collection = dynamic_cast<const EntityCollection*>(&object)) {
    for (const auto& [key, item] : collection->entries()) {
      bytes += kCollectionEntryBytes + key.size();
      if (item) bytes += ReckonedBytes(*item);
    }
  } else {
    for (const MemberEntry& entry : object.Members().entries()) {
      if (entry.kind != MemberEntry::Kind::kProperty || entry.arity != 0) continue;
      std::vector<Variant> no_args;
      bytes += kValueBytes + TextBytes(entry.call(object, entry, no_args));
    }
  }
  return bytes;
}

}  // namespace

class RpcBridge::Impl {
 public:
  Impl(const RpcLimits& limits, std::shared_ptr<RpcCallFilter> filter)
      : max_handles_(limits.max_handles),
        max_held_bytes_(limits.max_held_bytes),
        by_value_(limits.by_value),
        blank_names_(limits.blank_properties),
        filter_(std::move(filter)) {}

  // The response to one parsed request, or nothing for a notification. A request that fails
  // holds none of the objects it would have held.
  std::optional<Json> HandleRequest(const Json& request) {
    // A request that is not well formed is answered even without an id (with id null); a
    // well-formed notification is carried out and never answered, whatever its outcome.
    Json id = nullptr;
    if (request.is_object() && request.contains("id") && IsValidId(request["id"])) id = request["id"];
    const bool notification = request.is_object() && !request.contains("id");
    fresh_.clear();
    // The text is bounded as the description is, and cut from the message alone, so that the
    // cut keeps as much of it as it can.
    auto failure = [&](int64_t code, const Error& error) {
      const std::string description = BoundedDescription(error.description(), request);
      const std::string text = OneLine(BoundedDescription(MessageForPerson(error), request));
      return Response(id, "error",
                      ErrorObject(code, error.number(), error.source(), description, text, error.argument(),
                                  error.operation()));
    };
    try {
      const Json& params = CheckRequest(request);
      Json result = Call(request["method"].get<std::string>(), params, HoldAsked(request));
      if (notification) return std::nullopt;
      return Response(id, "result", std::move(result));
    } catch (const ProtocolError& error) {
      ForgetFresh();
      if (notification && error.code != kInvalidRequest) return std::nullopt;
      return failure(error.code, Error::Runtime(error.number, error.message)
                                     .WithArgument(error.argument.value_or(std::string()))
                                     .WithOperation(error.operation.value_or(std::string())));
    } catch (const Error& error) {
      ForgetFresh();
      if (notification) return std::nullopt;
      return failure(error.number(), error);
    } catch (const std::exception& error) {
      ForgetFresh();
      if (notification) return std::nullopt;
      return failure(kInternalError, Error::Runtime(kInvalidArgument, error.what()));
    }
  }

  size_t HeldCount() const { return objects_.size(); }
  size_t HeldBytes() const { return held_bytes_; }

 private:
  // How an answer shows the objects in it: under handles, kept until released, or by value,
  // keeping nothing.
  enum class Form { kHeld, kByValue };

  struct HeldObject {
    std::shared_ptr<Dispatch> object;
    size_t bytes;  // what the byte budget charged for it
  };

  // The request's params (an empty array when absent), once its fields have the right types.
  static const Json& CheckRequest(const Json& request) {
    static const Json kNoParams = Json::array();
    if (!request.is_object()) Refuse(kInvalidRequest, kInvalidArgument, "A request must be a JSON object.");
    if (!request.contains("jsonrpc") || request["jsonrpc"] != "2.0") {
      Refuse(kInvalidRequest, kInvalidArgument, "The request must have \"jsonrpc\": \"2.0\".");
    }
    if (request.contains("id") && !IsValidId(request["id"])) {
      Refuse(kInvalidRequest, kInvalidArgument, "The id must be a text, a number or null.");
    }
    if (!request.contains("method") || !request["method"].is_string()) {
      Refuse(kInvalidRequest, kInvalidArgument, "The request must have a \"method\" text.");
    }
    if (!request.contains("params")) return kNoParams;
    const Json& params = request["params"];
    if (!params.is_array() && !params.is_object()) {
      Refuse(kInvalidRequest, kInvalidArgument, "The \"params\" must be an array or an object.");
    }
    return params;
  }

  // The request's "hold" member, read only when answers go by value (otherwise the member means
  // nothing, as any member the protocol does not name).
  std::optional<bool> HoldAsked(const Json& request) const {
    if (!by_value_ || !request.contains("hold")) return std::nullopt;
    const Json& hold = request["hold"];
    if (!hold.is_boolean()) {
      Refuse(kInvalidRequest, kInvalidArgument, "The \"hold\" member must be true or false, not " + Shown(hold) + ".");
    }
    return hold.get<bool>();
  }

  Json Call(const std::string& method, const Json& params, std::optional<bool> hold) {
    if (method == "create") {
      if (hold == false) {
        Refuse(kInvalidRequest, kInvalidArgument, "create always holds the object it makes; \"hold\": false cannot apply.");
      }
      return Create(params);
    }
    // invoke works on what the caller holds, so its results are held unless the caller says not.
    if (method == "invoke") return InvokeHeld(params, hold == false ? Form::kByValue : Form::kHeld);
    if (method == "release") return Release(params);
    if (method == "rpc.discover") {
      if (!params.is_null() && !params.empty()) {
        Refuse(kInvalidParams, kWrongArgumentCount, "rpc.discover takes no params.");
      }
      return Discover();
    }
    const size_t dot = method.find('.');
    if (dot == std::string::npos) {
      Refuse(kMethodNotFound, kNoSuchMember,
             "There is no method " + QuoteForMessage(method) + "; use Class.Member, create, invoke or release.");
    }
    const std::shared_ptr<Dispatch> object = CreateByName(method.substr(0, dot));
    if (!params.is_array()) {
      Refuse(kInvalidRequest, kInvalidArgument, "The params of " + QuoteForMessage(method) + " must be an array.");
    }
    std::vector<Variant> args = DecodeArgsOf(*object, method.substr(dot + 1), params);
    const Form form = by_value_ && hold != true ? Form::kByValue : Form::kHeld;
    return CallMember(*object, method.substr(dot + 1), args, form);
  }

  Json Create(const Json& params) {
    if (!params.is_array()) Refuse(kInvalidRequest, kInvalidArgument, "The params of create must be an array.");
    if (params.size() != 1) Refuse(kInvalidParams, kWrongArgumentCount, "create takes one argument, the class name.");
    if (!params[0].is_string()) Refuse(kInvalidRequest, kInvalidArgument, "The class name must be a text.");
    const std::shared_ptr<Dispatch> object = CreateByName(params[0].get<std::string>());
    return Result(Encode(Variant(object), Form::kHeld), params);
  }

  Json InvokeHeld(const Json& params, Form form) {
    if (!params.is_object()) Refuse(kInvalidRequest, kInvalidArgument, "The params of invoke must be an object.");
    if (!params.contains("object") || !params["object"].is_number_integer() || !params.contains("member") ||
        !params["member"].is_string() || (params.contains("args") && !params["args"].is_array())) {
      Refuse(kInvalidRequest, kInvalidArgument,
             "invoke needs {\"object\": handle, \"member\": name, \"args\": [...]} with those types.");
    }
    const std::shared_ptr<Dispatch> object = Held(params["object"]);
    const std::string member = params["member"].get<std::string>();
    std::vector<Variant> args =
        params.contains("args") ? DecodeArgsOf(*object, member, params["args"]) : std::vector<Variant>{};
    return CallMember(*object, member, args, form);
  }

  Json Release(const Json& params) {
    if (!params.is_array()) Refuse(kInvalidRequest, kInvalidArgument, "The params of release must be an array.");
    if (params.size() != 1) Refuse(kInvalidParams, kWrongArgumentCount, "release takes one argument, the handle.");
    if (!params[0].is_number_integer()) Refuse(kInvalidRequest, kInvalidArgument, "The handle must be an integer.");
    Held(params[0]);  // refuses a handle that holds nothing
    Forget(params[0].get<int64_t>());
    return Result(Encode(Variant(), Form::kHeld), params);
  }

  std::shared_ptr<Dispatch> CreateByName(const std::string& name) {
    try {
      return CreateObject(name);
    } catch (const Error& error) {
      Refuse(kMethodNotFound, error.number(), error.description());
    }
  }

  // "Class.Member" of a member call, as error answers name the operation.
  static std::string OperationName(const Dispatch& object, const MemberEntry& entry) {
    return std::string(object.ClassName()) + "." + std::string(entry.name);
  }

  // The public name of the member's argument that an error names, as the member table spells it;
  // nothing when the error names none, or a name that is not one of the member's arguments (a
  // column or a value the operation reads itself).
  static std::optional<std::string> ArgumentOf(const MemberEntry& entry, const std::optional<std::string>& named) {
    if (!named) return std::nullopt;
    for (const std::string_view argument : entry.arguments) {
      if (SameNameIgnoringCase(argument, *named)) return std::string(argument);
    }
    return std::nullopt;
  }

  // A failure of a member's call names the member, and the argument at fault when it is known.
  Json CallMember(Dispatch& object, const std::string& member, std::vector<Variant>& args, Form form) {
    const MemberEntry* entry = object.Members().Find(member);
    if (entry == nullptr) {
      Refuse(kMethodNotFound, kNoSuchMember,
             std::string(object.ClassName()) + " has no member named " + QuoteForMessage(member) + ".");
    }
    try {
      return CallEntry(object, *entry, args, form);
    } catch (ProtocolError& error) {
      error.operation = OperationName(object, *entry);
      error.argument = ArgumentOf(*entry, error.argument);
      throw;
    } catch (const Error& error) {
      // The same error, with only an argument of this member named.
      const Error named(error.number(), error.source(), error.description());
      throw named.WithArgument(ArgumentOf(*entry, error.argument()).value_or(std::string()))
          .WithOperation(error.operation().value_or(OperationName(object, *entry)));
    } catch (const std::exception& error) {
      // Answered as an internal error, as before, with the member named.
      throw ProtocolError{kInternalError, kInvalidArgument, error.what(), std::nullopt, OperationName(object, *entry)};
    }
  }

  // The call itself, once the member is found.
  Json CallEntry(Dispatch& object, const MemberEntry& entry, std::vector<Variant>& args, Form form) {
    if (entry.arity != args.size()) {
      Refuse(kInvalidParams, kWrongArgumentCount, WrongArgumentCountText(object.ClassName(), entry, args.size()));
    }
    if (filter_) filter_->BeforeCall(object, entry, args);
    Variant value = entry.call(object, entry, args);
    if (filter_) filter_->AfterCall(object, entry, args);
    if (ReadsBlankedValue(object, entry, args)) value = Variant(std::string());
    Json encoded_args = Json::array();
    for (const Variant& arg : args) {
      // An object the caller passed by its handle is still held: it is shown under that handle.
      const bool held = arg.IsObject() && arg.AsObject() && handles_.contains(arg.AsObject().get());
      encoded_args.push_back(Encode(arg, held ? Form::kHeld : form));
    }
    return Result(Encode(value, form), std::move(encoded_args));
  }

  // True when the member call just made read a value that answers show blank: a blanked
  // property of an entity, or a blanked column through a result set's Fields.
  bool ReadsBlankedValue(Dispatch& object, const MemberEntry& entry, const std::vector<Variant>& args) const {
    if (blank_names_.empty() || entry.kind != MemberEntry::Kind::kProperty) return false;
    if (const auto* recordset = dynamic_cast<const Recordset*>(&object)) {
      if (!SameNameIgnoringCase(entry.name, "Fields") || args.size() != 1) return false;
      // The call succeeded, so the argument names a column, as Fields reads it.
      const size_t column = args[0].type() == VarType::kString ? recordset->ColumnIndex(args[0].AsString())
                                                               : static_cast<size_t>(ToLong(args[0]));
      return column < recordset->Columns().size() && IsBlanked(recordset->Columns()[column].name);
    }
    return entry.arity == 0 && dynamic_cast<const Entity*>(&object) != nullptr && IsBlanked(entry.name);
  }

  bool IsBlanked(std::string_view name) const {
    return std::any_of(blank_names_.begin(), blank_names_.end(),
                       [name](const std::string& blank) { return SameNameIgnoringCase(blank, name); });
  }

  // The OpenRPC document of this protocol; built once.
  static const Json& Discover() {
    static const Json document = OpenRpcDocument();
    return document;
  }

  static Json Result(Json value, Json args) {
    Json result = Json::object();
    result["value"] = std::move(value);
    result["args"] = std::move(args);
    return result;
  }

  std::shared_ptr<Dispatch> Held(const Json& handle) {
    const auto found = objects_.find(handle.get<int64_t>());
    if (found == objects_.end()) {
      Refuse(kInvalidParams, kInvalidArgument, "No object is held under the handle " + Shown(handle) + ".");
    }
    return found->second.object;
  }

  // The handle of `object`, holding it under a new one when it is not held yet; refuses (holding
  // nothing more) when that would pass max_handles or max_held_bytes.
  int64_t HandleFor(const std::shared_ptr<Dispatch>& object) {
    const auto found = handles_.find(object.get());
    if (found != handles_.end()) return found->second;
    if (objects_.size() >= max_handles_) {
      Refuse(kServerError, kInvalidArgument,
             "The bridge already holds " + std::to_string(objects_.size()) +
                 " objects; release some before creating more.");
    }
    const size_t bytes = ReckonedBytes(*object);
    if (bytes > max_held_bytes_ - held_bytes_) {
      Refuse(kServerError, kInvalidArgument,
             "Holding this " + std::string(object->ClassName()) + " (about " + std::to_string(bytes) +
                 " bytes) would take the held objects to " + std::to_string(held_bytes_ + bytes) +
                 " bytes, past the limit of " + std::to_string(max_held_bytes_) +
                 " bytes (max_held_bytes); release some before holding more.");
    }
    const int64_t handle = next_handle_++;
    handles_.emplace(object.get(), handle);
    objects_.emplace(handle, HeldObject{object, bytes});
    held_bytes_ += bytes;
    fresh_.push_back(handle);
    return handle;
  }

  // Lets go of a held handle and gives its bytes back to the budget.
  void Forget(int64_t handle) {
    const auto found = objects_.find(handle);
    if (found == objects_.end()) return;
    handles_.erase(found->second.object.get());
    held_bytes_ -= found->second.bytes;
    objects_.erase(found);
  }

  // Lets go of the handles the failed request took, so that it holds nothing (a collection
  // that passed the cap half way through its items leaves none of them held).
  void ForgetFresh() {
    for (const int64_t handle : fresh_) Forget(handle);
    fresh_.clear();
  }

  // The arguments of a call of `member` of `object`: a value that cannot be decoded is refused
  // naming the member and, when it has one there, the argument at that position. The member is
  // looked for only then, so a bad value is refused first, as it always was.
  std::vector<Variant> DecodeArgsOf(const Dispatch& object, const std::string& member, const Json& array) {
    std::vector<Variant> args;
    args.reserve(array.size());
    for (const Json& value : array) {
      try {
        args.push_back(Decode(value));
      } catch (ProtocolError& error) {
        if (const MemberEntry* entry = object.Members().Find(member)) {
          error.operation = OperationName(object, *entry);
          if (args.size() < entry->arguments.size()) error.argument = std::string(entry->arguments[args.size()]);
        }
        throw;
      }
    }
    return args;
  }

  Variant Decode(const Json& value) {
    switch (value.type()) {
      case Json::value_t::null: return Variant::Null();
      case Json::value_t::boolean: return value.get<bool>();
      case Json::value_t::string: return value.get<std::string>();
      case Json::value_t::number_integer: {
        const int64_t number = value.get<int64_t>();
        if (number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max()) {
          return static_cast<int32_t>(number);
        }
        return static_cast<double>(number);
      }
      case Json::value_t::number_unsigned: {
        const uint64_t number = value.get<uint64_t>();
        if (number <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return static_cast<int32_t>(number);
        return static_cast<double>(number);
      }
      case Json::value_t::number_float: return value.get<double>();
      case Json::value_t::object: return DecodeTagged(value);
      default: break;
    }
    Refuse(kInvalidParams, kInvalidArgument, "An argument cannot be " + std::string(value.type_name()) + ": " + Shown(value) + ".");
  }

  Variant DecodeTagged(const Json& value) {
    auto malformed = [&value]() -> ProtocolError {
      return ProtocolError{kInvalidParams, kInvalidArgument,
                           "The value " + Shown(value) + " is not a valid $empty, $nothing, $currency, $date or $object value."};
    };
    if (value.size() == 1 && value.contains("$empty") && value["$empty"] == true) return Variant();
    if (value.size() == 1 && value.contains("$nothing") && value["$nothing"] == true) return Variant::Nothing();
    if (value.size() == 1 && value.contains("$currency") && value["$currency"].is_string()) {
      try {
        return CurrencyFromText(value["$currency"].get<std::string>());
      } catch (const Error&) {
        throw malformed();
      }
    }
    if (value.size() == 1 && value.contains("$date") && value["$date"].is_string()) {
      if (const auto date = Date::Parse(value["$date"].get<std::string>())) return *date;
      throw malformed();
    }
    if (value.contains("$object") && value["$object"].is_number_integer()) return Variant(Held(value["$object"]));
    throw malformed();
  }

  Json Encode(const Variant& value, Form form) {
    switch (value.type()) {
      case VarType::kEmpty: return Json{{"$empty", true}};
      case VarType::kNull: return nullptr;
      case VarType::kInteger: return value.AsInteger();
      case VarType::kLong: return value.AsLong();
      case VarType::kDouble: return value.AsDouble();
      case VarType::kCurrency: return Json{{"$currency", value.AsCurrency().ToText()}};
      case VarType::kDate: return Json{{"$date", value.AsDate().ToStoredText()}};
      case VarType::kString: return value.AsString();
      case VarType::kBoolean: return value.AsBoolean();
      case VarType::kObject: return EncodeObject(value.AsObject(), form);
    }
    return nullptr;
  }

  // An object held (with "$object", its handle) or by value (without). By value, an object
  // that is neither a result set nor a collection shows its scalar properties as an entity
  // does: for an entity that is all it has, and the other objects a call could return (managers,
  // enumeration objects) are creatable by name, so nothing is lost by not holding them.
  Json EncodeObject(const std::shared_ptr<Dispatch>& object, Form form) {
    if (!object) return Json{{"$nothing", true}};
    Json encoded = Json::object();
    if (form == Form::kHeld) encoded["$object"] = HandleFor(object);
    encoded["class"] = std::string(object->ClassName());
    if (const auto* recordset = dynamic_cast<const Recordset*>(object.get())) {
      EncodeRecordset(*recordset, form, encoded);
    } else if (const auto* collection = dynamic_cast<const EntityCollection*>(object.get())) {
      encoded["count"] = collection->Count();
      Json items = Json::array();
      for (const auto& [key, item] : collection->entries()) {
        Json entry = Json::object();
        entry["key"] = key;
        entry["value"] = EncodeObject(item, form);
        items.push_back(std::move(entry));
      }
      encoded["items"] = std::move(items);
    } else {
      EncodeProperties(*object, encoded);
    }
    return encoded;
  }

  // By value a result set has no cursor to show: it is its columns and rows.
  void EncodeRecordset(const Recordset& recordset, Form form, Json& encoded) {
    if (form == Form::kHeld) encoded["closed"] = !recordset.IsOpen();
    Json columns = Json::array();
    std::vector<bool> blanked;
    for (const FieldInfo& field : recordset.Columns()) {
      Json column = Json::object();
      column["name"] = field.name;
      column["type"] = std::string(FieldTypeName(field.type));
      column["size"] = field.defined_size;
      columns.push_back(std::move(column));
      blanked.push_back(IsBlanked(field.name));
    }
    encoded["columns"] = std::move(columns);
    Json rows = Json::array();
    for (const auto& row : recordset.Rows()) {
      Json cells = Json::array();
      for (size_t i = 0; i < row.size(); ++i) {
        cells.push_back(i < blanked.size() && blanked[i] ? Json(std::string()) : Encode(row[i], form));
      }
      rows.push_back(std::move(cells));
    }
    encoded["rows"] = std::move(rows);
    if (form == Form::kHeld) encoded["position"] = recordset.Position();
  }

  // Every scalar property by its public name, in declaration order; properties that take
  // arguments (object-valued ones take Account) are left for invoke. A blanked name reads "".
  void EncodeProperties(Dispatch& object, Json& encoded) {
    Json properties = Json::object();
    for (const MemberEntry& entry : object.Members().entries()) {
      if (entry.kind != MemberEntry::Kind::kProperty || entry.arity != 0) continue;
      if (IsBlanked(entry.name)) {
        properties[std::string(entry.name)] = std::string();
        continue;
      }
      std::vector<Variant> no_args;
      const Variant value = entry.call(object, entry, no_args);
      properties[std::string(entry.name)] = value.IsObject() ? Json(nullptr) : Encode(value, Form::kHeld);
    }
    encoded["properties"] = std::move(properties);
  }

  const size_t max_handles_;
  const size_t max_held_bytes_;
  const bool by_value_;
  const std::vector<std::string> blank_names_;
  const std::shared_ptr<RpcCallFilter> filter_;
  std::map<int64_t, HeldObject> objects_;
  std::unordered_map<const Dispatch*, int64_t> handles_;
  std::vector<int64_t> fresh_;  // handles the current request has taken
  int64_t next_handle_ = 1;
  size_t held_bytes_ = 0;  // the sum of the held objects' charges
};

RpcBridge::RpcBridge(RpcLimits limits, std::shared_ptr<RpcCallFilter> filter)
    : impl_(std::make_unique<Impl>(limits, std::move(filter))), limits_(std::move(limits)) {}
RpcBridge::~RpcBridge() = default;

size_t RpcBridge::HeldCount() const { return impl_->HeldCount(); }
size_t RpcBridge::HeldBytes() const { return impl_->HeldBytes(); }

bool RpcBridge::Answer(std::string_view line, std::ostream& out) {
  auto write = [&out](const Json& response) {
    out << Dump(response) << '\n';
    return true;
  };
  if (JsonNestingDepth(line) > kMaxDepth) {
    return write(ProtocolErrorResponse(kInvalidRequest, kInvalidArgument,
                                       "The request nests deeper than " + std::to_string(kMaxDepth) + " levels."));
  }
  // Checked whole before anything is carried out: a batch that turns out not to be JSON half
  // way along is one parse error, not some answers and then an error.
  if (!Json::accept(line.begin(), line.end())) {
    return write(ProtocolErrorResponse(kParseError, kTypeMismatch, "The line is not valid JSON."));
  }
  if (FirstSignificant(line) != '[') {
    const auto response = impl_->HandleRequest(Json::parse(line.begin(), line.end()));
    return response && write(*response);
  }
  // A batch: each element of the top-level array is handed over as soon as it is parsed and
  // then dropped, and its response written at once, so neither the requests nor the responses
  // pile up whatever their count.
  size_t requests = 0;
  bool opened = false;
  const Json::parser_callback_t each = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth != 1) return true;
    if (event != Json::parse_event_t::value && event != Json::parse_event_t::object_end &&
        event != Json::parse_event_t::array_end) {
      return true;
    }
    ++requests;
    if (const auto response = impl_->HandleRequest(parsed)) {
      out << (opened ? ',' : '[') << Dump(*response);
      opened = true;
    }
    return false;
  };
  // What is left is the empty top-level array: every element was dropped once handled.
  const Json emptied = Json::parse(line.begin(), line.end(), each);
  if (opened) {
    out << "]\n";
    return true;
  }
  if (requests == 0) {
    return write(ProtocolErrorResponse(kInvalidRequest, kInvalidArgument, "A batch must hold at least one request."));
  }
  return false;
}

std::optional<std::string> RpcBridge::HandleLine(std::string_view line) {
  std::ostringstream out;
  if (!Answer(line, out)) return std::nullopt;
  std::string response = std::move(out).str();
  response.pop_back();
  return response;
}

void RpcBridge::Serve(std::istream& in, std::ostream& out) {
  LineReader reader(in, limits_.max_line);
  std::string line;
  for (;;) {
    const LineReader::Status status = reader.Next(line);
    if (status == LineReader::Status::kEnd) break;
    bool answered = false;
    if (status == LineReader::Status::kTooLong) {
      out << Dump(ProtocolErrorResponse(kInvalidRequest, kInvalidArgument,
                                        "The line is longer than " + std::to_string(limits_.max_line) +
                                            " bytes; it was skipped."))
          << '\n';
      answered = true;
    } else {
      answered = Answer(line, out);
    }
    if (answered) out.flush();
  }
}

int JsonNestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}


}  // namespace ledgerkit
