#include "automation/ApiDescription.h"

#include <cstdio>
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

#include "automation/ApiClasses.h"
#include "automation/ClassRegistry.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/Recordset.h"
#include "entities/ACAccount.h"
#include "entities/ACAccountType.h"
#include "entities/ACFnclInstitution.h"
#include "entities/ACInvoice.h"
#include "entities/ACInvoiceItem.h"
#include "entities/ACTransLog.h"
#include "entities/ACTransLogWIP.h"
#include "entities/ACTransaction.h"
#include "entities/CITaxCode.h"
#include "entities/EntityCollection.h"
#include "entities/ISubScriber.h"
#include "entities/ISubscriberLocation.h"
#include "entities/IUser.h"
#include "entities/SysSessions.h"
#include "enums/EnumerationClass.h"

namespace ledgerkit {

namespace {

using Json = nlohmann::ordered_json;

std::string Hex(int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(static_cast<uint32_t>(number)));
  return text;
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
                           {"hex", Hex(error.number)},
                           {"text", error.text}});
  }
  Json runtime = Json::array();
  for (const RuntimeErrorInfo& error : kRuntimeErrors) {
    runtime.push_back(Json{{"number", static_cast<int32_t>(error.number)}, {"name", error.name}, {"meaning", error.meaning}});
  }
  const Json engine{{"base", static_cast<int32_t>(kEngineErrorBase)},
                    {"hex", Hex(static_cast<int32_t>(kEngineErrorBase))},
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

std::string DescribeApiMarkdown() {
  const Json api = Describe();
  std::string out =
      "# ledgerkit API reference\n\n"
      "Generated from `ledgerkit describe` by `scripts/api-doc.sh`; do not edit by hand. Every member is\n"
      "reached by name, letter case ignored (late-bound calls and the JSON-RPC bridge alike), with its\n"
      "arguments in the order listed; a call with another number of arguments fails with error 449.\n"
      "Over the JSON-RPC bridge, a creatable class's member is the method `Class.Member` with the\n"
      "arguments as `params`; a member of any object held is reached with `invoke`.\n\n"
      "Contents: [Classes](#classes), [Entity classes](#entity-classes), [Enumerations](#enumerations),\n"
      "[Errors](#errors).\n\n"
      "## Classes\n";
  auto member_table = [&out](const Json& members) {
    out += "\n| Member | Kind | Arguments | Returns |\n|---|---|---|---|\n";
    for (const Json& member : members) {
      out += "| " + member["name"].get<std::string>() + " | " + member["kind"].get<std::string>() + " | " +
             Cell(Arguments(member)) + " | " + Cell(member["returns"].get<std::string>()) + " |\n";
    }
  };
  for (const Json& cls : api["classes"]) {
    out += "\n### " + cls["name"].get<std::string>() + "\n\n";
    out += cls["creatable"].get<bool>() ? "Creatable by name.\n" : "Returned by operations; not creatable by name.\n";
    member_table(cls["members"]);
  }
  out += "\n## Entity classes\n\nRead-only snapshots of one row, returned by operations; not creatable by name.\n";
  for (const Json& entity : api["entities"]) {
    out += "\n### " + entity["name"].get<std::string>() + "\n";
    member_table(entity["properties"]);
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
  out += "\n## Errors\n\nThe library's own errors (source `" + api["errors"]["source"].get<std::string>() +
         "`); `%1` in a text stands for the particulars.\n\n"
         "| Enumeration | Name | Number | Hex | Text |\n|---|---|---|---|---|\n";
  for (const Json& error : api["errors"]["library"]) {
    out += "| " + error["enumeration"].get<std::string>() + " | " + error["name"].get<std::string>() + " | " +
           std::to_string(error["number"].get<int32_t>()) + " | " + error["hex"].get<std::string>() + " | " +
           Cell(error["text"].get<std::string>()) + " |\n";
  }
  out += "\nRuntime errors (source `" + api["errors"]["source"].get<std::string>() +
         "`): the description is a sentence about the particular failure.\n\n| Number | Name | Meaning |\n|---|---|---|\n";
  for (const Json& error : api["errors"]["runtime"]) {
    out += "| " + std::to_string(error["number"].get<int32_t>()) + " | " + error["name"].get<std::string>() + " | " +
           Cell(error["meaning"].get<std::string>()) + " |\n";
  }
  const Json& engine = api["errors"]["engine"];
  out += "\nEngine errors (source `" + engine["source"].get<std::string>() + "`): " + engine["hex"].get<std::string>() +
         " (" + std::to_string(engine["base"].get<int32_t>()) + ") plus the engine's primary result code; the " +
         "description is the engine's message.\n";
  return out;
}

}  // namespace ledgerkit
