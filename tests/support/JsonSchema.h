// Checks a JSON value against the part of JSON Schema the repository's schemas use: type, enum,
// required, properties, additionalProperties false, items, pattern, minLength, minimum and
// maximum. A keyword it does not know is an error too, so a schema cannot outgrow the check
// unnoticed.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <string>
#include <vector>

namespace pellwick {

// One message per violation, each with the path of the value ("/files/2/outcome").
std::vector<std::string> SchemaErrors(const QJsonValue& value, const QJsonObject& schema,
                                      const std::string& where = "");

// The schema file as an object; empty when it cannot be read or parsed.
QJsonObject ReadSchema(const std::string& path);

} // namespace pellwick
