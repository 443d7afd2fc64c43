#include "automation/ApiDescription.h"

#include <cctype>
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

#include "automation/ApiClasses.h"
#include "automation/ApiMeanings.h"
#include "ledgerkit/automation/ClassRegistry.h"
#include "automation/OpenRpc.h"
#include "common/EngineDriver.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/entities/ACAccount.h"
#include "entities/Catalog.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/entities/ISubscriberLocation.h"
#include "ledgerkit/entities/IUser.h"
#include "ledgerkit/entities/SysSessions.h"
#include "ledgerkit/enums/EnumerationClass.h"

namespace ledgerkit {

namespace {

using Json = nlohmann::ordered_json;

// The anchor a Markdown renderer gives a heading: lower case, blanks as hyphens, dots dropped.
std::string Anchor(std::string_view heading) {
  std::string anchor;
  for (const char c : heading) {
    if (c == ' ') {
      anchor += '-';
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') {
      anchor += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return anchor;
}

Json Member(const MemberEntry& entry, std::string_view returns) {
  Json arguments = Json::array();
  Json written_back = Json::array();
  for (size_t i = 0; i < entry.arguments.size(); ++i) {
    arguments.push_back(entry.arguments[i]);
    if (entry.written_back & (1u << i)) written_back.push_back(entry.arguments[i]);
  }
  return Json{{"name", entry.name},
              {"kind", entry.kind == MemberEntry::Kind::kMethod ? "method" : "property"},
              {"arguments", std::move(arguments)},
              {"written_back", std::move(written_back)},
              {"returns", returns}};
}

Json ClassOf(const Dispatch& object, bool creatable) {
  Json members = Json::array();
  for (const MemberEntry& entry : object.Members().entries()) members.push_back(Member(entry, entry.returns));
  return Json{{"name", object.ClassName()}, {"creatable", creatable}, {"members", std::move(members)}};
}

// What an entity property returns. Object-valued properties name their class here rather than
// in the member table, which is built before the classes it links to may be.
std::string PropertyReturns(const EntityDef& def, size_t index) {
  const EntityProperty& property = def.properties[index];
  switch (property.kind) {
    case EntityProperty::Kind::kScalar: return def.members.entries()[index].returns;
    case EntityProperty::Kind::kObject: return std::string(property.target().table);
    case EntityProperty::Kind::kCollection: return "Collection of " + std::string(property.target().table);
  }
  return "Variant";
}

Json Describe() {
  Json classes = Json::array();
  Json enumerations = Json::array();
  for (const std::string& name : CreatableClassNames()) {
    const std::shared_ptr<Dispatch> object = CreateObject(name);
    classes.push_back(ClassOf(*object, true));
    if (const auto* enumeration = dynamic_cast<const EnumerationClass*>(object.get())) {
      Json values = Json::array();
      for (const EnumerationClass::Member& member : enumeration->values()) {
        values.push_back(Json{{"name", member.name}, {"value", member.value}, {"description", member.description}});
      }
      enumerations.push_back(
          Json{{"name", enumeration->enumeration_name()}, {"class", object->ClassName()}, {"values", std::move(values)}});
    }
  }
  classes.push_back(ClassOf(EntityCollection(), false));
  classes.push_back(ClassOf(Recordset(), false));

  Json entities = Json::array();
  for (const auto def_of : EntityClasses()) {
    const EntityDef& def = def_of();
    Json properties = Json::array();
    for (size_t i = 0; i < def.properties.size(); ++i) {
      properties.push_back(Member(def.members.entries()[i], PropertyReturns(def, i)));
    }
    entities.push_back(Json{{"name", def.table}, {"properties", std::move(properties)}});
  }

  Json library = Json::array();
  for (const LibraryErrorInfo& error : kLibraryErrors) {
    library.push_back(Json{{"enumeration", error.enumeration},
                           {"name", error.name},
                           {"number", error.number},
                           {"hex", ErrorNumberHex(error.number)},
                           {"text", error.text}});
  }
  Json runtime = Json::array();
  for (const RuntimeErrorInfo& error : kRuntimeErrors) {
    runtime.push_back(Json{{"number", static_cast<int32_t>(error.number)}, {"name", error.name}, {"meaning", error.meaning}});
  }
  const Json engine{{"base", static_cast<int32_t>(kEngineErrorBase)},
                    {"hex", ErrorNumberHex(static_cast<int32_t>(kEngineErrorBase))},
                    {"source", kEngineSource},
                    {"meaning", "The base plus the engine's primary result code; the description is the engine's message."}};
  return Json{{"classes", std::move(classes)},
              {"entities", std::move(entities)},
              {"enumerations", std::move(enumerations)},
              {"errors", Json{{"source", kLibrarySource}, {"library", std::move(library)}, {"runtime", std::move(runtime)},
                              {"engine", engine}}}};
}

// A member's arguments in order, each one it writes back marked so.
std::string Arguments(const Json& member) {
  std::string text;
  for (const Json& name : member["arguments"]) {
    text += (text.empty() ? "" : ", ") + name.get<std::string>();
    for (const Json& written : member["written_back"]) {
      if (written == name) text += " (written back)";
    }
  }
  return text;
}

// A message text on one line, its line breaks written as the escapes \r and \n.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  return line;
}

std::string Cell(const std::string& text) {
  std::string cell;
  for (char c : OneLine(text)) {
    if (c == '|') cell += '\\';
    cell += c;
  }
  return cell;
}

}  // namespace

const ColumnDef* FindSchemaColumn(std::string_view table, std::string_view column) {
  for (const TableDef& def : SchemaTables()) {
    if (def.name != table) continue;
    for (const ColumnDef& candidate : def.columns) {
      if (candidate.name == column) return &candidate;
    }
  }
  return nullptr;
}

std::span<const EntityDefOf> EntityClasses() {
  static constexpr EntityDefOf kClasses[] = {
      &ACAccount::Def,     &ACAccountType::Def, &ACFnclInstitution::Def, &ACTransaction::Def, &ACTransLog::Def,
      &ACTransLogWIP::Def, &CITaxCode::Def,     &ACInvoice::Def,         &ACInvoiceItem::Def, &ISubScriber::Def,
      &ISubscriberLocation::Def, &IUser::Def,   &SysSessions::Def,
  };
  return kClasses;
}

std::string DescribeApiJson() { return Describe().dump(2) + "\n"; }

std::string DescribeApiText() {
  const Json api = Describe();
  std::string out;
  auto member_line = [&out](const Json& member) {
    out += "  " + member["kind"].get<std::string>() + " " + member["name"].get<std::string>();
    if (!member["arguments"].empty()) out += "(" + Arguments(member) + ")";
    out += " -> " + member["returns"].get<std::string>() + "\n";
  };
  for (const Json& cls : api["classes"]) {
    out += "class " + cls["name"].get<std::string>() +
           (cls["creatable"].get<bool>() ? " (creatable)" : " (returned by operations)") + "\n";
    for (const Json& member : cls["members"]) member_line(member);
  }
  for (const Json& entity : api["entities"]) {
    out += "entity " + entity["name"].get<std::string>() + "\n";
    for (const Json& property : entity["properties"]) member_line(property);
  }
  for (const Json& enumeration : api["enumerations"]) {
    out += "enumeration " + enumeration["name"].get<std::string>() + " (class " + enumeration["class"].get<std::string>() +
           ")\n";
    for (const Json& value : enumeration["values"]) {
      out += "  " + value["name"].get<std::string>() + " = " + std::to_string(value["value"].get<int32_t>()) + " (" +
             value["description"].get<std::string>() + ")\n";
    }
  }
  for (const Json& error : api["errors"]["library"]) {
    out += "error " + error["enumeration"].get<std::string>() + "." + error["name"].get<std::string>() + " = " +
           std::to_string(error["number"].get<int32_t>()) + " (" + error["hex"].get<std::string>() +
           "): " + OneLine(error["text"].get<std::string>()) + "\n";
  }
  for (const Json& error : api["errors"]["runtime"]) {
    out += "error " + std::to_string(error["number"].get<int32_t>()) + " " + error["name"].get<std::string>() + ": " +
           error["meaning"].get<std::string>() + "\n";
  }
  const Json& engine = api["errors"]["engine"];
  out += "error " + engine["hex"].get<std::string>() + " + code (source " + engine["source"].get<std::string>() +
         "): " + engine["meaning"].get<std::string>() + "\n";
  return out;
}

namespace {

// How a schema of the OpenRPC document reads in the reference: "Text (at most 60)", "Key",
// "Currency or Empty", a link to an entity class.
std::string SchemaWords(const Json& schema) {
  if (schema.contains("$ref")) {
    const std::string name = schema["$ref"].get<std::string>().substr(std::string("#/components/schemas/").size());
    static constexpr std::string_view kCollectionOf = "CollectionOf";
    if (name.starts_with(kCollectionOf)) {
      const std::string entity = name.substr(kCollectionOf.size());
      return "Collection of [" + entity + "](#" + Anchor(entity) + ")";
    }
    if (name == "Currency" || name == "Date" || name == "Empty" || name == "Variant" || name == "Nothing") return name;
    if (name == "HeldObject") return "Object (held)";
    if (name == "AnyObject") return "Object";
    return "[" + name + "](#" + Anchor(name) + ")";
  }
  if (schema.contains("anyOf")) {
    std::string words;
    for (const Json& part : schema["anyOf"]) words += (words.empty() ? "" : " or ") + SchemaWords(part);
    return words;
  }
  const std::string type = schema.contains("type") && schema["type"].is_string() ? schema["type"].get<std::string>() : "";
  if (type == "null") return "Null";
  if (type == "boolean") return "Boolean";
  if (type == "number") return "Double";
  if (type == "string") {
    if (schema.contains("pattern")) return "Text matching `" + schema["pattern"].get<std::string>() + "`";
    if (schema.contains("maxLength")) return "Text (at most " + std::to_string(schema["maxLength"].get<int>()) + ")";
    return "Text";
  }
  if (type == "integer") {
    if (schema.contains("enum")) {
      std::string values;
      for (const Json& value : schema["enum"]) values += (values.empty() ? "" : ", ") + value.dump();
      return "Long, one of " + values;
    }
    if (schema.value("minimum", 0) == 1) return "Key";
    return "Long";
  }
  if (type == "object") return "Object";
  return "Variant";
}

}  // namespace

std::string DescribeApiMarkdown() {
  const Json api = Describe();
  const Json document = OpenRpcDocument();
  const Json& schemas = document["components"]["schemas"];
  std::string out =
      "# ledgerkit API reference\n\n"
      "Generated from the OpenRPC document (`ledgerkit describe --openrpc`, also `rpc.discover` and\n"
      "`GET /openrpc.json` on `ledgerkit serve`) by `scripts/api-doc.sh`; do not edit by hand. Every member\n"
      "is reached by name, letter case ignored, with its arguments in the order listed; a call with another\n"
      "number of arguments fails with error 449. Over JSON-RPC a creatable class's member is the method\n"
      "`Class.Member` with the arguments as `params`, and every answer's `result` is\n"
      "`{\"value\": ..., \"args\": [...]}`: what the member returned and the arguments as they stand after\n"
      "the call. A member of an object held is reached with `invoke`.\n\n"
      "Contents: [Values](#values), [Classes](#classes), [Objects reached with invoke](#objects-reached-with-invoke),\n"
      "[Entity classes](#entity-classes), [Enumerations](#enumerations), [Errors](#errors).\n\n"
      "## Values\n\n| Kind | On the wire |\n|---|---|\n"
      "| Text, Long, Key, Boolean, Double | a JSON string, integer, integer of at least 1, boolean, number |\n";
  for (const char* name : {"Currency", "Date", "Empty", "Nothing", "Variant", "Recordset"}) {
    out += "| " + std::string(name) + " | " + Cell(schemas[name]["description"].get<std::string>()) + " |\n";
  }
  out += "\n## Classes\n";
  std::string current_class;
  for (const Json& method : document["methods"]) {
    const std::string name = method["name"].get<std::string>();
    const size_t dot = name.find('.');
    if (dot == std::string::npos || name.starts_with("rpc.")) continue;
    const std::string class_name = name.substr(0, dot);
    if (class_name != current_class) {
      current_class = class_name;
      out += "\n### " + class_name + "\n\n";
      if (const ClassMeaning* meaning = FindClassMeaning(class_name)) out += std::string(meaning->meaning) + " ";
      out += "Creatable by name.\n";
    }
    out += "\n#### " + name + "\n\n";
    if (method.contains("summary")) out += method["summary"].get<std::string>() + "\n\n";
    if (!method["params"].empty()) {
      out += "| # | Argument | Kind | Meaning |\n|---|---|---|---|\n";
      int position = 0;
      for (const Json& param : method["params"]) {
        out += "| " + std::to_string(position++) + " | " + param["name"].get<std::string>() + " | " +
               Cell(SchemaWords(param["schema"])) + " | " + Cell(param.value("description", "")) + " |\n";
      }
      out += "\n";
    }
    const Json& value = method["result"]["schema"]["properties"]["value"];
    out += "Returns " + SchemaWords(value);
    std::string returns = value.contains("description") ? ": " + value["description"].get<std::string>() : "";
    out += returns + (returns.ends_with('.') ? "\n" : ".\n");
    if (method.contains("x-errors-when")) {
      out += "\nErrors:\n\n";
      for (const Json& error : method["x-errors-when"]) {
        const int32_t code = error["code"].get<int32_t>();
        out += "- " + std::to_string(code) + (code < 0 ? " (" + ErrorNumberHex(code) + ")" : "") + " " +
               error["when"].get<std::string>() + "\n";
      }
    }
    if (method.contains("examples")) {
      for (const Json& example : method["examples"]) {
        Json params = Json::array();
        for (const Json& param : example["params"]) params.push_back(param["value"]);
        const Json request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", name}, {"params", params}};
        out += "\nExample (" + example["summary"].get<std::string>() + "):\n\n```json\n" + request.dump() + "\n" +
               Json{{"jsonrpc", "2.0"}, {"id", 1}, {"result", example["result"]["value"]}}.dump() + "\n```\n";
      }
    }
  }
  out += "\n## Objects reached with invoke\n\nReturned by operations (held, or by value over the service); not creatable by name.\n";
  for (const Json& cls : api["classes"]) {
    if (cls["creatable"].get<bool>()) continue;
    out += "\n### " + cls["name"].get<std::string>() + "\n\n";
    if (const ClassMeaning* meaning = FindClassMeaning(cls["name"].get<std::string>())) {
      out += std::string(meaning->meaning) + "\n\n";
    }
    out += "| Member | Kind | Arguments | Returns |\n|---|---|---|---|\n";
    for (const Json& member : cls["members"]) {
      out += "| " + member["name"].get<std::string>() + " | " + member["kind"].get<std::string>() + " | " +
             Cell(Arguments(member)) + " | " + Cell(member["returns"].get<std::string>()) + " |\n";
    }
  }
  out += "\n## Entity classes\n\nRead-only snapshots of one row, returned by operations: `{\"class\": NAME, \"properties\": {...}}`,\n"
         "with `\"$object\": H` when held. `properties` holds every scalar property below; object-valued\n"
         "properties (which take Account) are reached with `invoke`.\n";
  for (const Json& entity : api["entities"]) {
    const std::string name = entity["name"].get<std::string>();
    const Json& schema = schemas[name];
    out += "\n### " + name + "\n\n";
    if (schema.contains("description")) out += schema["description"].get<std::string>() + "\n\n";
    out += "| Property | Kind | Meaning |\n|---|---|---|\n";
    const Json& scalar = schema["properties"]["properties"]["properties"];
    for (const Json& property : entity["properties"]) {
      const std::string property_name = property["name"].get<std::string>();
      std::string kind;
      std::string meaning;
      if (scalar.contains(property_name)) {
        kind = SchemaWords(scalar[property_name]);
        meaning = scalar[property_name].value("description", "");
      } else {
        kind = property["returns"].get<std::string>() + ", with invoke(" + Arguments(property) + ")";
        if (const PropertyMeaning* found = FindPropertyMeaning(name, property_name)) meaning = found->meaning;
      }
      out += "| " + property_name + " | " + Cell(kind) + " | " + Cell(meaning) + " |\n";
    }
  }
  out += "\n## Enumerations\n";
  for (const Json& enumeration : api["enumerations"]) {
    out += "\n### " + enumeration["name"].get<std::string>() + "\n\nPublished by the class " +
           enumeration["class"].get<std::string>() + ".\n\n| Name | Value | Description |\n|---|---|---|\n";
    for (const Json& value : enumeration["values"]) {
      out += "| " + value["name"].get<std::string>() + " | " + std::to_string(value["value"].get<int32_t>()) + " | " +
             Cell(value["description"].get<std::string>()) + " |\n";
    }
  }
  out += "\n## Errors\n\nAn error answer carries `code` (the error's number), `message`, and `data` with `number`,\n"
         "`source` (`ledgerkit`, `SQLite` or `PostgreSQL`) and `description` (the full description), plus\n"
         "`text` (the message alone, on one line, to show a person), and, where known, `argument` (the\n"
         "argument at fault) and `operation` (`Class.Member`). `%1` in a library text stands for the particulars.\n\n"
         "| Name | Code | Hex | Meaning |\n|---|---|---|---|\n";
  for (const auto& [name, error] : document["components"]["errors"].items()) {
    const int32_t code = error["code"].get<int32_t>();
    out += "| " + name + " | " + std::to_string(code) + " | " + (code < 0 && code > -33000 ? "" : ErrorNumberHex(code)) + " | " +
           Cell(error["message"].get<std::string>()) + " |\n";
  }
  return out;
}

}  // namespace ledgerkit
