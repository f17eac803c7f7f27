// Reading back the reports pellwick-run wrote: the JSON checked against the repository's schema,
// the JUnit XML read with a parser and summed up.
#pragma once

#include <QJsonObject>
#include <string>
#include <vector>

namespace pellwick::e2e {

struct JUnitSummary {
    int tests = 0, failures = 0, skipped = 0;
    bool parsed = false;
    std::vector<std::string> failureMessages;
};

// The report's object; a test failure when it cannot be read or breaks the schema.
QJsonObject ReadCheckedReport(const std::string& path);
JUnitSummary ReadJUnit(const std::string& path);
// The "outcome" of every entry of "files", in order.
std::vector<std::string> Outcomes(const QJsonObject& report);

} // namespace pellwick::e2e
