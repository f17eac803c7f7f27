#include "e2e/RunReportCheck.h"

#include "e2e/UploadFiles.h"
#include "support/JsonSchema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace pellwick::e2e {

QJsonObject ReadCheckedReport(const std::string& path) {
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReadText(path)), &error);
    EXPECT_EQ(QJsonParseError::NoError, error.error)
        << path << ": " << error.errorString().toStdString();
    const QJsonObject schema = ReadSchema(PELLWICK_REPORT_SCHEMA);
    EXPECT_FALSE(schema.isEmpty());
    for (const std::string& e : SchemaErrors(doc.object(), schema)) {
        ADD_FAILURE() << path << e;
    }
    return doc.object();
}

JUnitSummary ReadJUnit(const std::string& path) {
    JUnitSummary summary;
    QXmlStreamReader xml(QByteArray::fromStdString(ReadText(path)));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        summary.tests += xml.name() == QString("testcase");
        summary.skipped += xml.name() == QString("skipped");
        if (xml.name() == QString("failure")) {
            ++summary.failures;
            summary.failureMessages.push_back(
                xml.attributes().value("message").toString().toStdString());
        }
    }
    summary.parsed = !xml.hasError() && summary.tests > 0;
    EXPECT_TRUE(summary.parsed) << path << ": " << xml.errorString().toStdString();
    return summary;
}

std::vector<std::string> Outcomes(const QJsonObject& report) {
    std::vector<std::string> outcomes;
    for (const QJsonValue file : report["files"].toArray()) {
        outcomes.push_back(file["outcome"].toString().toStdString());
    }
    return outcomes;
}

} // namespace pellwick::e2e
