// The public API as a late-bound caller sees it, read from the same member tables, entity
// declarations, enumeration lists and error tables the late-bound layer and the operations use,
// so the description cannot differ from what a call finds: every creatable class and its
// members (argument names in order, what each returns), the entity classes and their
// properties, the collection and result-set classes, the enumerations with their values, and
// every error number with its message text or meaning.
//
// The three renderings hold the same facts in the same order and are byte-for-byte the same on
// every run. No company file is opened.
#pragma once

#include <string>

namespace ledgerkit {

// Plain text, one line per member, value or error number.
std::string DescribeApiText();
// One JSON document: {"classes", "entities", "enumerations", "errors"}; see the Markdown for the
// meaning of each part.
std::string DescribeApiJson();
// A Markdown reference for integrators: a section per class with a table of its members,
// then the enumerations and the error numbers.
std::string DescribeApiMarkdown();

}  // namespace ledgerkit
