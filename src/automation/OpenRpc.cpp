// The OpenRPC document of the JSON-RPC bridge: every method with its params and result as JSON
// Schemas, the errors it can answer, and examples of the common flows. Built from the member
// tables, the entity declarations, the schema catalog, the enumeration classes, the error tables
// and the meanings of ApiMeanings.cpp; docs/API.md is rendered from it.
#include "automation/OpenRpc.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "automation/ApiClasses.h"
#include "automation/ApiMeanings.h"
#include "ledgerkit/automation/ClassRegistry.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/Version.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/Entity.h"
#include "ledgerkit/enums/EnumerationClass.h"

namespace ledgerkit {

namespace {

using Json = nlohmann::ordered_json;

constexpr int32_t kRefusedNumber = 70;  // the service's refusals (no session, another company, ...)

Json Ref(std::string_view name) { return Json{{"$ref", "#/components/schemas/" + std::string(name)}}; }
Json ErrorRef(std::string_view name) { return Json{{"$ref", "#/components/errors/" + std::string(name)}}; }

Json OrNull(Json schema) { return Json{{"anyOf", Json::array({std::move(schema), Json{{"type", "null"}}})}}; }

// "ACAccount.Name" as its column.
const ColumnDef* ColumnOf(std::string_view qualified) {
  const size_t dot = qualified.find('.');
  if (dot == std::string_view::npos) return nullptr;
  return FindSchemaColumn(qualified.substr(0, dot), qualified.substr(dot + 1));
}

const EnumerationClass* FindEnumeration(std::string_view name) {
  static const std::vector<std::shared_ptr<Dispatch>> objects = [] {
    std::vector<std::shared_ptr<Dispatch>> all;
    for (const std::string& class_name : CreatableClassNames()) all.push_back(CreateObject(class_name));
    return all;
  }();
  for (const auto& object : objects) {
    if (const auto* enumeration = dynamic_cast<const EnumerationClass*>(object.get())) {
      if (enumeration->enumeration_name() == name) return enumeration;
    }
  }
  return nullptr;
}

// A Long among fixed values: the values as `enum`, their names and meanings in the description.
Json ValuesSchema(const std::vector<std::pair<int32_t, std::string>>& values, std::string& description) {
  Json allowed = Json::array();
  std::string listed;
  for (const auto& [value, name] : values) {
    allowed.push_back(value);
    listed += (listed.empty() ? "" : "; ") + std::to_string(value) + " " + name;
  }
  description += (description.empty() ? "" : " ") + std::string("Values: ") + listed + ".";
  return Json{{"type", "integer"}, {"enum", std::move(allowed)}};
}

std::vector<std::pair<int32_t, std::string>> EnumerationValues(std::string_view name) {
  std::vector<std::pair<int32_t, std::string>> values;
  if (const EnumerationClass* enumeration = FindEnumeration(name)) {
    for (const EnumerationClass::Member& member : enumeration->values()) {
      values.emplace_back(member.value, std::string(member.name) + " (" + std::string(member.description) + ")");
    }
  }
  return values;
}

std::vector<std::pair<int32_t, std::string>> ListedValues(const std::vector<AllowedValue>& allowed) {
  std::vector<std::pair<int32_t, std::string>> values;
  for (const AllowedValue& value : allowed) {
    values.emplace_back(value.value, std::string(value.name) + (value.meaning.empty() ? "" : " (" + std::string(value.meaning) + ")"));
  }
  return values;
}

Json TextSchema(int32_t width) {
  Json schema{{"type", "string"}};
  if (width > 0) schema["maxLength"] = width;
  return schema;
}

// The schema of a stored column's value as an answer shows it.
Json ColumnSchema(const ColumnDef& column, bool own_key) {
  Json schema;
  switch (column.kind) {
    case FieldType::kText: schema = TextSchema(column.width); break;
    case FieldType::kLong:
    case FieldType::kInteger: schema = Json{{"type", "integer"}}; break;
    case FieldType::kDouble: schema = Json{{"type", "number"}}; break;
    case FieldType::kCurrency: schema = Ref("Currency"); break;
    case FieldType::kDate: schema = Ref("Date"); break;
    case FieldType::kBoolean: schema = Json{{"type", "boolean"}}; break;
    case FieldType::kVariant: return Ref("Variant");
    case FieldType::kKey: schema = Json{{"type", "integer"}, {"minimum", 1}, {"maximum", 2147483647}}; break;
  }
  return own_key ? schema : OrNull(std::move(schema));
}

// The schema of an argument, and the sentence describing it.
Json ArgumentSchema(const ArgumentMeaning& argument, std::string& description) {
  description = std::string(argument.meaning);
  Json schema;
  switch (argument.kind) {
    case ValueKind::kText: {
      int32_t width = argument.width;
      if (const ColumnDef* column = ColumnOf(argument.of); column != nullptr && width == 0) width = column->width;
      schema = TextSchema(width);
      break;
    }
    case ValueKind::kLong:
      schema = Json{{"type", "integer"}, {"minimum", -2147483647 - 1}, {"maximum", 2147483647}};
      break;
    case ValueKind::kKey:
      schema = Json{{"type", "integer"}, {"minimum", 1}, {"maximum", 2147483647}};
      if (!argument.of.empty()) description += " A key of " + std::string(argument.of) + ".";
      break;
    case ValueKind::kKeyList:
      schema = Json{{"type", "string"}, {"pattern", "^([1-9][0-9]*(\\|[1-9][0-9]*)*)?$"}};
      description += " Keys of " + std::string(argument.of) + " joined by \"|\", such as \"3|8|15\".";
      break;
    case ValueKind::kCurrency: schema = Ref("Currency"); break;
    case ValueKind::kDate: schema = Ref("Date"); break;
    case ValueKind::kBoolean: schema = Json{{"type", "boolean"}}; break;
    case ValueKind::kDouble: schema = Json{{"type", "number"}}; break;
    case ValueKind::kEnumeration:
      schema = ValuesSchema(argument.values.empty() ? EnumerationValues(argument.of) : ListedValues(argument.values),
                            description);
      break;
    case ValueKind::kObject: schema = Ref("HeldObject"); break;
    case ValueKind::kVariant: schema = Ref("Variant"); break;
  }
  if (!argument.unit.empty()) {
    schema["x-unit"] = argument.unit;
    description += " Unit: " + std::string(argument.unit) + ".";
  }
  Json any = Json::array({schema});
  if (!argument.empty.empty()) {
    any.push_back(Ref("Empty"));
    description += " Empty: " + std::string(argument.empty);
  }
  if (!argument.null.empty()) {
    any.push_back(Json{{"type", "null"}});
    description += " Null: " + std::string(argument.null);
  }
  return any.size() == 1 ? schema : Json{{"anyOf", std::move(any)}};
}

// The JSON Schema of what a member returns, from the word of its member table.
Json ReturnSchema(std::string_view returns) {
  static constexpr std::string_view kCollectionOf = "Collection of ";
  if (returns.starts_with(kCollectionOf)) return Ref("CollectionOf" + std::string(returns.substr(kCollectionOf.size())));
  if (returns == "nothing") return Ref("Empty");
  if (returns == "Variant") return Ref("Variant");
  if (returns == "Boolean") return Json{{"type", "boolean"}};
  if (returns == "Integer" || returns == "Long") return Json{{"type", "integer"}};
  if (returns == "Double") return Json{{"type", "number"}};
  if (returns == "String") return Json{{"type", "string"}};
  if (returns == "Currency") return Ref("Currency");
  if (returns == "Date") return Ref("Date");
  if (returns == "Recordset") return Ref("Recordset");
  if (returns == "Object") return Ref("AnyObject");
  return Ref(returns);  // an entity class
}

// An object as an answer shows it: held (with its handle) or by value (without).
Json ObjectSchema(std::string_view class_name, Json more, Json required) {
  Json properties{{"$object", {{"type", "integer"}, {"minimum", 1}}}, {"class", {{"const", class_name}}}};
  for (auto& [key, value] : more.items()) properties[key] = value;
  Json all_required = Json::array({"class"});
  for (const Json& name : required) all_required.push_back(name);
  return Json{{"type", "object"}, {"properties", std::move(properties)}, {"required", std::move(all_required)}};
}

Json EntitySchema(const EntityDef& def) {
  Json properties = Json::object();
  Json required = Json::array();
  for (const EntityProperty& property : def.properties) {
    if (property.kind != EntityProperty::Kind::kScalar) continue;
    const ColumnDef* column = FindSchemaColumn(def.table, property.source);
    Json schema = column != nullptr ? ColumnSchema(*column, column == def.key_column) : Ref("Variant");
    std::string description;
    if (const PropertyMeaning* meaning = FindPropertyMeaning(def.table, property.name)) {
      description = std::string(meaning->meaning);
      if (!meaning->unit.empty()) description += " Unit: " + std::string(meaning->unit) + ".";
      if (!meaning->values.empty() || !meaning->enumeration.empty()) {
        ValuesSchema(meaning->values.empty() ? EnumerationValues(meaning->enumeration) : ListedValues(meaning->values),
                     description);
      }
    }
    if (!description.empty()) schema["description"] = description;
    properties[std::string(property.name)] = std::move(schema);
    required.push_back(property.name);
  }
  Json entity = ObjectSchema(
      def.table,
      Json{{"properties",
            {{"type", "object"}, {"properties", std::move(properties)}, {"required", required}, {"additionalProperties", false}}}},
      Json::array({"properties"}));
  if (const ClassMeaning* meaning = FindClassMeaning(def.table)) entity["description"] = meaning->meaning;
  return entity;
}

Json CollectionSchema(std::string_view entity) {
  Json item{{"type", "object"},
            {"properties", {{"key", {{"type", "string"}}}, {"value", Ref(entity)}}},
            {"required", {"key", "value"}}};
  Json schema = ObjectSchema("Collection",
                             Json{{"count", {{"type", "integer"}, {"minimum", 0}}},
                                  {"items", {{"type", "array"}, {"items", std::move(item)}}}},
                             Json::array({"count", "items"}));
  schema["description"] = "A collection of " + std::string(entity) + ": its rows in order, each under its key (the row's key as text).";
  return schema;
}

Json Components() {
  Json schemas = Json::object();
  schemas["Currency"] = {
      {"description", "Money, exact to the ten-thousandth, as plain decimal text: {\"$currency\": \"112.35\"}. Within "
                      "-922337203685477.5808 to 922337203685477.5807."},
      {"type", "object"},
      {"properties", {{"$currency", {{"type", "string"}, {"pattern", "^-?[0-9]{1,15}(\\.[0-9]{1,4})?$"}}}}},
      {"required", {"$currency"}},
      {"additionalProperties", false}};
  schemas["Date"] = {
      {"description", "A date, or a date and time of day: {\"$date\": \"2026-03-31\"}. Answers give "
                      "\"YYYY-MM-DD HH:MM:SS\" or \"YYYY-MM-DD\"; input also takes the T form. Years 1 to 9999."},
      {"type", "object"},
      {"properties",
       {{"$date", {{"type", "string"},
                   {"pattern", "^[0-9]{4}-[0-9]{2}-[0-9]{2}([ T][0-9]{2}:[0-9]{2}(:[0-9]{2})?)?$"}}}}},
      {"required", {"$date"}},
      {"additionalProperties", false}};
  schemas["Empty"] = {{"description", "No value: what a member that returns nothing gives, and \"left out\" where an "
                                      "argument takes it. Neither \"\" nor null means Empty."},
                      {"type", "object"},
                      {"properties", {{"$empty", {{"const", true}}}}},
                      {"required", {"$empty"}},
                      {"additionalProperties", false}};
  schemas["Nothing"] = {{"description", "An object reference that refers to no object."},
                        {"type", "object"},
                        {"properties", {{"$nothing", {{"const", true}}}}},
                        {"required", {"$nothing"}},
                        {"additionalProperties", false}};
  schemas["HeldObject"] = {{"description", "A held object passed as an argument, by its handle."},
                           {"type", "object"},
                           {"properties", {{"$object", {{"type", "integer"}, {"minimum", 1}}}}},
                           {"required", {"$object"}}};
  schemas["AnyObject"] = {
      {"description", "An object: an entity, a collection, a result set or a creatable class's instance. Held under "
                      "\"$object\" until released, or by value without it."},
      {"type", "object"},
      {"properties", {{"$object", {{"type", "integer"}, {"minimum", 1}}}, {"class", {{"type", "string"}}}}},
      {"required", {"class"}}};
  schemas["Variant"] = {
      {"description", "Any value: null (Null), a boolean, an integer (Long), a number (Double), a string, or one of "
                      "the tagged objects."},
      {"anyOf",
       {{{"type", "null"}}, {{"type", "boolean"}}, {{"type", "integer"}}, {{"type", "number"}}, {{"type", "string"}},
        Ref("Empty"), Ref("Currency"), Ref("Date"),
        Ref("Nothing"), Ref("AnyObject")}}};
  Json column{{"type", "object"},
              {"properties",
               {{"name", {{"type", "string"}}},
                {"type", {{"enum", {"text", "long", "integer", "double", "currency", "date", "boolean", "variant", "key"}}}},
                {"size", {{"type", "integer"}, {"minimum", 0}}}}},
              {"required", {"name", "type", "size"}}};
  Json recordset = ObjectSchema(
      "Recordset",
      Json{{"closed", {{"type", "boolean"}}},
           {"columns", {{"type", "array"}, {"items", std::move(column)}}},
           {"rows", {{"type", "array"}, {"items", {{"title", "RecordsetRow"}, {"type", "array"}, {"items", Ref("Variant")}}}}},
           {"position", {{"type", "integer"}, {"minimum", 0}}}},
      Json::array({"columns", "rows"}));
  recordset["description"] =
      "A result set: its columns (name, type, size: the defined width of a text column) and every row as an array "
      "of cells in column order. Held, it also shows `closed` and `position`, the cursor's row index (the row count at "
      "end).";
  schemas["Recordset"] = std::move(recordset);
  for (const auto def_of : EntityClasses()) {
    const EntityDef& def = def_of();
    schemas[std::string(def.table)] = EntitySchema(def);
    schemas["CollectionOf" + std::string(def.table)] = CollectionSchema(def.table);
  }
  schemas["ErrorData"] = {
      {"type", "object"},
      {"properties",
       {{"number", {{"type", "integer"}, {"description", "The error number (the same as the error's code)."}}},
        {"source", {{"type", "string"}, {"description", "Who raised it: ledgerkit, SQLite or PostgreSQL."}}},
        {"description", {{"type", "string"}, {"description", "The full description, as the library gives it."}}},
        {"text", {{"type", "string"}, {"description", "The message alone, on one line, to show a person."}}},
        {"argument", {{"type", "string"}, {"description", "The name of the argument at fault, where known."}}},
        {"operation", {{"type", "string"}, {"description", "Class.Member of the call that failed, where known."}}}}},
      {"required", {"number", "source", "description"}}};
  schemas["ErrorObject"] = {{"description", "The `error` member of a JSON-RPC answer."},
                            {"type", "object"},
                            {"properties",
                             {{"code", {{"type", "integer"}}},
                              {"message", {{"type", "string"}}},
                              {"data", Ref("ErrorData")}}},
                            {"required", {"code", "message", "data"}}};
  // Every schema is titled with its name: client generators name their types after titles.
  for (auto& [name, schema] : schemas.items()) schema["title"] = name;
  return schemas;
}

// Every error an answer may carry, by a name for references.
struct ErrorEntry {
  std::string name;
  int32_t code;
  std::string message;
};

std::vector<ErrorEntry> ProtocolErrors() {
  return {{"ParseError", -32700, "The request is not JSON (data.number 13)."},
          {"InvalidRequest", -32600, "Not a request object, or a field of the wrong type (data.number 5)."},
          {"MethodNotFound", -32601, "No such class or member (data.number 429 or 438)."},
          {"InvalidParams", -32602,
           "The wrong number of arguments (data.number 449), an unknown handle or a malformed $ value (5)."},
          {"Refused", kRefusedNumber,
           "Refused by the service: no live session, another company's session, a call taken only from an "
           "administrator, too many failed logons, a limit of the service."}};
}

std::vector<ErrorEntry> RuntimeErrors() {
  std::vector<ErrorEntry> errors;
  for (const RuntimeErrorInfo& error : kRuntimeErrors) {
    errors.push_back({std::string(error.name.substr(1)), static_cast<int32_t>(error.number), std::string(error.meaning)});
  }
  return errors;
}

// The blocks of the build's engines, as each driver gives its own.
std::vector<ErrorEntry> EngineErrors() {
  std::vector<ErrorEntry> errors;
  for (const EngineDriver* driver : EngineDrivers()) {
    for (EngineErrorEntry& error : driver->errors()) {
      errors.push_back({std::move(error.name), error.number, std::move(error.meaning)});
    }
  }
  return errors;
}

// The library's errors of one class ("errCACMgr" for CACMgr), by name.
std::vector<ErrorEntry> LibraryErrors() {
  std::vector<ErrorEntry> errors;
  for (const LibraryErrorInfo& error : kLibraryErrors) {
    errors.push_back({std::string(error.enumeration) + "." + std::string(error.name), error.number, std::string(error.text)});
  }
  return errors;
}

Json ErrorsComponent() {
  Json errors = Json::object();
  for (const auto& list : {ProtocolErrors(), RuntimeErrors(), EngineErrors(), LibraryErrors()}) {
    for (const ErrorEntry& error : list) errors[error.name] = Json{{"code", error.code}, {"message", error.message}};
  }
  return errors;
}

// The errors every member may answer, then its class's own.
Json MethodErrors(std::string_view class_name) {
  Json refs = Json::array();
  for (const auto& list : {ProtocolErrors(), RuntimeErrors(), EngineErrors()}) {
    for (const ErrorEntry& error : list) refs.push_back(ErrorRef(error.name));
  }
  const std::string enumeration = "err" + std::string(class_name);
  for (const LibraryErrorInfo& error : kLibraryErrors) {
    if (error.enumeration == enumeration && error.text != kNotRaised) {
      refs.push_back(ErrorRef(std::string(error.enumeration) + "." + std::string(error.name)));
    }
  }
  return refs;
}

Json Result(Json value, Json args) {
  return Json{{"name", "result"},
              {"schema",
               {{"type", "object"},
                {"properties", {{"value", std::move(value)}, {"args", std::move(args)}}},
                {"required", {"value", "args"}}}}};
}

Json MemberMethod(const Dispatch& object, const MemberEntry& entry) {
  const std::string class_name(object.ClassName());
  Json params = Json::array();
  Json args = Json::array();
  const MemberMeaning* meaning = FindMemberMeaning(class_name, entry.name);
  for (size_t i = 0; i < entry.arguments.size(); ++i) {
    const std::string_view name = entry.arguments[i];
    const ArgumentMeaning* argument = FindArgumentMeaning(class_name, entry.name, name);
    std::string description;
    Json schema = argument != nullptr ? ArgumentSchema(*argument, description) : Ref("Variant");
    const bool written_back = (entry.written_back & (1u << i)) != 0;
    if (written_back) description += (description.empty() ? "" : " ") + std::string("Written back by the call.");
    params.push_back(Json{{"name", name}, {"required", true}, {"description", description}, {"schema", schema}});
    // After the call an argument written back holds what the member put there.
    args.push_back(written_back ? Ref("Variant") : schema);
  }
  const size_t count = entry.arguments.size();
  Json value = ReturnSchema(entry.returns);
  if (entry.returns == "Variant" && meaning != nullptr && meaning->value != ValueKind::kVariant) {
    std::string ignored;
    value = ArgumentSchema(ArgumentMeaning{.name = entry.name, .kind = meaning->value}, ignored);
    if (meaning->value_null) value = OrNull(std::move(value));
  }
  if (meaning != nullptr && !meaning->returns.empty()) value["description"] = meaning->returns;
  Json method{{"name", class_name + "." + std::string(entry.name)}};
  if (meaning != nullptr) method["summary"] = meaning->meaning;
  std::string description = std::string(entry.kind == MemberEntry::Kind::kMethod ? "Method" : "Property") + " " +
                            std::string(entry.name) + " of " + class_name + ".";
  method["description"] = description;
  if (meaning != nullptr && !meaning->errors.empty()) {
    // When this member raises which error, beyond what any call may answer.
    Json when = Json::array();
    for (const auto& [number, case_text] : meaning->errors) when.push_back(Json{{"code", number}, {"when", case_text}});
    method["x-errors-when"] = std::move(when);
  }
  method["tags"] = Json::array({Json{{"name", class_name}}});
  method["paramStructure"] = "by-position";
  method["params"] = std::move(params);
  // No arguments: an empty array (a tuple of no items is refused by the meta-schema).
  Json args_schema = count == 0 ? Json{{"type", "array"}, {"maxItems", 0}, {"items", Json::object()}}
                                : Json{{"type", "array"}, {"items", std::move(args)}, {"minItems", count}, {"maxItems", count}};
  method["result"] = Result(std::move(value), std::move(args_schema));
  // A title per result, so that generated clients name the type as the method.
  std::string title = class_name + "_" + std::string(entry.name) + "_Result";
  method["result"]["schema"]["title"] = title;
  method["errors"] = MethodErrors(class_name);
  return method;
}

Json HandleParam() {
  return Json{{"name", "object"},
              {"required", true},
              {"schema", {{"type", "integer"}, {"minimum", 1}}},
              {"description", "The handle of the held object."}};
}

// The bridge's own methods: objects held across calls.
Json HeldObjectMethods() {
  Json create{{"name", "create"},
              {"summary", "Creates an instance of a creatable class and holds it; later calls reach it with invoke."},
              {"paramStructure", "by-position"},
              {"params",
               {{{"name", "Class"},
                 {"required", true},
                 {"description", "The class's name, letter case ignored."},
                 {"schema", {{"type", "string"}}}}}},
              {"result", Result(Ref("AnyObject"), {{"type", "array"}, {"items", Json::array({{{"type", "string"}}})}})},
              {"errors", MethodErrors("")}};
  Json invoke{{"name", "invoke"},
              {"summary", "Calls a method, or reads a property with its arguments, of a held object."},
              {"paramStructure", "by-name"},
              {"params",
               {HandleParam(),
                {{"name", "member"}, {"required", true}, {"schema", {{"type", "string"}}},
                 {"description", "The member's name, letter case ignored."}},
                {{"name", "args"}, {"required", true},
                 {"schema", {{"title", "InvokeArguments"}, {"type", "array"}, {"items", Ref("Variant")}}},
                 {"description", "The member's arguments in order."}}}},
              {"result", Result(Ref("Variant"), {{"type", "array"}, {"items", Ref("Variant")}})},
              {"errors", MethodErrors("")}};
  Json release{{"name", "release"},
               {"summary", "Forgets a held object; later use of its handle is an invalid-params error."},
               {"paramStructure", "by-position"},
               {"params",
                {HandleParam()}},
               {"result", Result(Ref("Empty"), {{"type", "array"}, {"items", Json::array({{{"type", "integer"}}})}})},
               {"errors", MethodErrors("")}};
  Json discover{{"name", "rpc.discover"},
                {"summary", "This document. It takes no params; its result is the document itself."},
                {"paramStructure", "by-position"},
                {"params", Json::array()},
                {"errors", Json::array({ErrorRef("InvalidParams")})},
                {"result", {{"name", "OpenRPC document"},
                            {"schema", {{"type", "object"}, {"required", {"openrpc", "info", "methods"}}}}}}};
  return Json::array({std::move(create), std::move(invoke), std::move(release), std::move(discover)});
}

Json Request(std::string_view method, Json params) {
  return Json{{"name", std::string(method)}, {"value", std::move(params)}};
}

Json Pairing(std::string name, std::string summary, Json params, Json result) {
  return Json{{"name", std::move(name)},
              {"summary", std::move(summary)},
              {"params", std::move(params)},
              {"result", {{"name", "result"}, {"value", std::move(result)}}}};
}

Json Currency(std::string_view text) { return Json{{"$currency", text}}; }
Json Date(std::string_view text) { return Json{{"$date", text}}; }

// Examples of the common flows, by method. Over `ledgerkit serve`, Account is the company's
// name and every call but the logon carries the session's token as `Authorization: Bearer`.
void AddExamples(Json& methods) {
  const Json session = Json::array({"acme", "boss", "TOKEN"});
  auto with_session = [&](std::vector<Json> more) {
    Json params = Json::array();
    for (const Json& p : session) params.push_back(Request("", p));
    params[0]["name"] = "Account";
    params[1]["name"] = "UserName";
    params[2]["name"] = "Token";
    for (Json& p : more) params.push_back(std::move(p));
    return params;
  };
  std::map<std::string, Json> examples;
  examples["CSecurityMgr.BeginUserSession"] = Pairing(
      "Logon", "Log on to company acme as boss; the value is the session's token.",
      Json::array({Request("Account", "acme"), Request("UserName", "boss"), Request("Password", "secret")}),
      Json{{"value", "0f3c5e9a..."}, {"args", {"acme", "boss", ""}}});
  examples["CACMgr.BeginTransaction"] = Pairing(
      "Cheque", "A cheque (ttCHQ, 0) of 112.35 on account 1, the bank, dated 2026-03-31: the bank is credited "
                "at once; the value is the transaction number, to post the other side with PostDebit and commit "
                "with EndTransaction.",
      with_session({Request("TransType", 0), Request("TransactionDate", Date("2026-03-31")),
                    Request("Description", "Office chairs"), Request("AccountID", 1), Request("Amount", Currency("112.35")),
                    Request("Address", "Chair Co"), Request("Memo", "Office chairs"), Request("ChequeNo", "1001")}),
      Json{{"value", "1043"}, {"args", Json::array()}});
  examples["CACMgr.PostDebit"] = Pairing(
      "ChequeExpense", "The expense side of the cheque: 112.35 debited to account 9; the value is the new line's key.",
      Json::array({Request("Account", "acme"), Request("TransactionID", "1043"), Request("AccountID", 9),
                   Request("Amount", Currency("112.35")), Request("Description", "Office chairs")}),
      Json{{"value", 17}, {"args", Json::array()}});
  examples["CACMgr.EndTransaction"] = Pairing(
      "Commit", "Commits the transaction to the register and the stored balances.",
      Json::array({Request("Account", "acme"), Request("TransactionID", "1043")}),
      Json{{"value", Json{{"$empty", true}}}, {"args", Json::array()}});
  examples["CACMgr.ReconcileAccount"] = Pairing(
      "Reconcile", "Marks the register rows 3, 8 and 15 of the bank account 1 reconciled, with no service charge "
                   "or interest.",
      with_session({Request("AccountID", 1), Request("TransIDs", "3|8|15"), Request("ServiceCharge", Currency("0")),
                    Request("ServiceChargeDate", nullptr), Request("ServiceChargeAccount", Json{{"$empty", true}}),
                    Request("InterestEarned", Currency("0")), Request("InterestEarnedDate", nullptr),
                    Request("InterestEarnedAccount", Json{{"$empty", true}})}),
      Json{{"value", Json{{"$empty", true}}}, {"args", Json::array()}});
  examples["CACMgr.IssueInvoice"] = Pairing(
      "IssueInvoice", "Posts invoice 7 (entered with InsertInvoice and InsertInvoiceItem): the receivable, the "
                      "sales and both taxes.",
      with_session({Request("InvoiceID", 7)}), Json{{"value", Json{{"$empty", true}}}, {"args", Json::array()}});
  for (Json& method : methods) {
    const auto found = examples.find(method["name"].get<std::string>());
    if (found == examples.end()) continue;
    Json pairing = found->second;
    // An example's args echo its params; the value stays as given.
    if (pairing["result"]["value"]["args"].empty()) {
      Json args = Json::array();
      for (const Json& param : pairing["params"]) args.push_back(param["value"]);
      pairing["result"]["value"]["args"] = std::move(args);
    }
    method["examples"] = Json::array({std::move(pairing)});
  }
}

}  // namespace

nlohmann::ordered_json OpenRpcDocument() {
  Json methods = Json::array();
  for (const std::string& name : CreatableClassNames()) {
    const std::shared_ptr<Dispatch> object = CreateObject(name);
    for (const MemberEntry& entry : object->Members().entries()) methods.push_back(MemberMethod(*object, entry));
  }
  for (Json& method : HeldObjectMethods()) {
    std::string title = method["name"].get<std::string>();
    std::replace(title.begin(), title.end(), '.', '_');
    method["result"]["schema"]["title"] = title + "_Result";
    methods.push_back(std::move(method));
  }
  AddExamples(methods);
  Json tags = Json::array();
  for (const std::string& name : CreatableClassNames()) {
    Json tag{{"name", name}};
    if (const ClassMeaning* meaning = FindClassMeaning(name)) tag["description"] = meaning->meaning;
    tags.push_back(std::move(tag));
  }
  return Json{
      {"openrpc", "1.3.2"},
      {"info",
       {{"title", "ledgerkit"},
        {"version", std::string(kVersion)},
        {"description",
         "A small-business double-entry ledger over JSON-RPC 2.0: `ledgerkit rpc` on standard input and output, "
         "`ledgerkit serve` over HTTP (POST /rpc). A creatable class's member is the method Class.Member with its "
         "arguments in order; objects returned are held under handles (`invoke`, `release`) or, over the service, "
         "sent by value. Every answer's result is {\"value\", \"args\"}: what the member returned and its arguments "
         "as they stand after the call."},
        {"license", {{"name", "Proprietary"}}}}},
      {"servers", Json::array({Json{{"name", "ledgerkit serve"},
                                    {"url", "http://127.0.0.1:8080/rpc"},
                                    {"summary", "ledgerkit serve with its default --listen; POST /rpc"}}})},
      {"methods", std::move(methods)},
      {"components", {{"schemas", Components()}, {"errors", ErrorsComponent()}, {"tags", [&] {
                         Json by_name = Json::object();
                         for (Json& tag : tags) by_name[tag["name"].get<std::string>()] = tag;
                         return by_name;
                       }()}}}};
}

std::string DescribeOpenRpc() { return OpenRpcDocument().dump(2) + "\n"; }

}  // namespace ledgerkit
