// The run report's JSON and JUnit texts read back with Qt's parsers, its atomic write, and the
// paths it may replace.
#include "outcome/RunReport.h"

#include "support/JsonSchema.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

// One file of each outcome; names and messages carry what JSON and XML must escape.
RunReport EveryOutcome() {
    RunReport r;
    r.script = "flash \"<a&b>\".sld";
    r.comName = "COM3";
    r.devicePath = "/dev/serial/by-id/usb-X";
    r.baudRate = 115200;
    r.parity = "none";
    r.stopBits = "1";
    r.startTime = "2026-12-09T10:00:00.000+00:00";
    r.endTime = "2026-12-09T10:00:05.000+00:00";
    r.exitStatus = 3;
    r.exitName = "upload error";
    r.message = "Upload Error !\rline\t2\x01";
    const FileOutcome outcomes[] = {FileOutcome::Verified,    FileOutcome::Refused,
                                    FileOutcome::NotVerified, FileOutcome::Cancelled,
                                    FileOutcome::HungUp,      FileOutcome::Failed,
                                    FileOutcome::NotSent};
    for (FileOutcome o : outcomes) {
        FileReport f;
        f.file = std::string(FileOutcomeName(o)) + ".bin";
        f.address = 0x20000;
        f.size = 1000;
        f.checksum = 0xBEEF;
        f.version = "1.02";
        f.outcome = o;
        f.bytesSent = o == FileOutcome::NotSent ? 0 : 1000;
        f.transferSeconds = 0.5;
        f.verifySeconds = 0.25;
        f.message = o == FileOutcome::Refused ? "Device said \"ERR\"" : "";
        r.files.push_back(f);
    }
    return r;
}

TEST(RunReportTest, JsonCarriesEveryFieldAndEscapesWhatItMust) {
    const RunReport r = EveryOutcome();
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(r)), &error);
    ASSERT_EQ(QJsonParseError::NoError, error.error) << error.errorString().toStdString();
    const QJsonObject o = doc.object();
    EXPECT_EQ(r.script, o["script"].toString().toStdString());
    EXPECT_EQ("/dev/serial/by-id/usb-X", o["port"]["device"].toString().toStdString());
    EXPECT_EQ(115200, o["line"]["baud"].toInt());
    EXPECT_EQ(3, o["exit"]["status"].toInt());
    // Box texts break their lines with CR; the report's messages with line feeds.
    EXPECT_EQ("Upload Error !\nline\t2\x01", o["exit"]["message"].toString().toStdString());
    const QJsonArray files = o["files"].toArray();
    ASSERT_EQ(static_cast<int>(r.files.size()), files.size());
    for (int i = 0; i < files.size(); ++i) {
        const FileReport& f = r.files[static_cast<std::size_t>(i)];
        const QJsonObject j = files[i].toObject();
        EXPECT_EQ(FileOutcomeName(f.outcome), j["outcome"].toString().toStdString());
        EXPECT_EQ("00020000", j["address"].toString().toStdString());
        EXPECT_EQ("0000BEEF", j["checksum"].toString().toStdString());
        EXPECT_EQ(f.outcome == FileOutcome::NotSent ? 0 : 2000, j["bytes_per_second"].toInt());
    }
    EXPECT_EQ("Device said \"ERR\"", files[1]["message"].toString().toStdString());
    // No files: still a valid document.
    RunReport empty;
    EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(empty))).isNull());
}

TEST(RunReportTest, JsonKeepsTheSchemaInTheRepositoryAndTheCheckCatchesWhatBreaksIt) {
    const QJsonObject schema = ReadSchema(PELLWICK_REPORT_SCHEMA);
    ASSERT_FALSE(schema.isEmpty());
    const QJsonObject good =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(EveryOutcome()))).object();
    struct Row {
        const char* name;
        std::function<void(QJsonObject&)> change;
        bool valid;
    };
    const std::vector<Row> rows = {
        {"as written", [](QJsonObject&) {}, true},
        {"unknown outcome",
         [](QJsonObject& o) {
             QJsonArray files = o["files"].toArray();
             QJsonObject f = files[0].toObject();
             f["outcome"] = "done";
             files[0] = f;
             o["files"] = files;
         },
         false},
        {"missing end time", [](QJsonObject& o) { o.remove("end"); }, false},
        {"extra field", [](QJsonObject& o) { o["extra"] = 1; }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QJsonObject report = good;
        row.change(report);
        const auto errors = SchemaErrors(report, schema);
        EXPECT_EQ(row.valid, errors.empty()) << (errors.empty() ? "" : errors[0]);
    }
}

TEST(RunReportTest, JUnitFailsRefusedAndUnverifiedFilesAndARunThatFailedWithoutAFile) {
    struct Row {
        const char* name;
        RunReport report;
        int tests, failures, skipped;
    };
    RunReport portError;
    portError.exitStatus = 4;
    portError.exitName = "port error";
    portError.message = "Error Opening Selected Comm Port !";
    std::vector<Row> rows = {{"every outcome", EveryOutcome(), 7, 4, 2},
                             {"port error", portError, 1, 1, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QXmlStreamReader xml(QByteArray::fromStdString(ReportJUnit(row.report)));
        int tests = 0, failures = 0, skipped = 0;
        std::map<std::string, std::string> suite;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) {
                continue;
            }
            const QString name = xml.name().toString();
            if (name == "testsuite") {
                for (const auto& a : xml.attributes()) {
                    suite[a.name().toString().toStdString()] = a.value().toString().toStdString();
                }
            }
            tests += name == "testcase";
            failures += name == "failure";
            skipped += name == "skipped";
            if (name == "failure" && row.report.exitStatus == 4) {
                EXPECT_EQ(portError.message,
                          xml.attributes().value("message").toString().toStdString());
            }
        }
        ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
        EXPECT_EQ(row.tests, tests);
        EXPECT_EQ(row.failures, failures);
        EXPECT_EQ(row.skipped, skipped);
        EXPECT_EQ(std::to_string(tests), suite["tests"]);
        EXPECT_EQ(std::to_string(failures), suite["failures"]);
    }
}

// Names and versions come from scripts and file systems in whatever bytes they hold, box texts
// join their lines with CR: both reports still parse, and a message's lines end in line feeds.
TEST(RunReportTest, ReportsStayValidWhateverBytesTheirTextsHold) {
    RunReport r = EveryOutcome();
    r.script = "caf\xE9.sld";                              // Latin-1
    r.files[0].file = "a\xC3(b\xED\xA0\x80\xFF.bin";       // broken, surrogate, stray bytes
    r.files[0].version = "v\xE9 \x01\x1F\xEF\xBF\xBF end"; // Latin-1, controls, U+FFFF
    r.files[1].message = "Device said\rERR\r\nagain";
    const QString replaced = QString(QChar(0xFFFD));

    QJsonParseError error{};
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(r)), &error).object();
    ASSERT_EQ(QJsonParseError::NoError, error.error) << error.errorString().toStdString();
    const auto errors = SchemaErrors(o, ReadSchema(PELLWICK_REPORT_SCHEMA));
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ("caf" + replaced + ".sld", o["script"].toString());
    EXPECT_EQ("v" + replaced + " \x01\x1F" + QChar(0xFFFF) + " end",
              o["files"][0]["version"].toString());
    EXPECT_EQ("Device said\nERR\nagain", o["files"][1]["message"].toString());

    QXmlStreamReader xml(QByteArray::fromStdString(ReportJUnit(r)));
    QStringList names, failures;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (xml.name() == QString("testcase")) {
            names << xml.attributes().value("name").toString();
        } else if (xml.name() == QString("failure")) {
            failures << xml.attributes().value("message").toString() << xml.readElementText();
        }
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    ASSERT_EQ(static_cast<int>(r.files.size()), names.size());
    EXPECT_TRUE(names[0].startsWith("a" + replaced + "(b")) << names[0].toStdString();
    ASSERT_GE(failures.size(), 2); // the refused file's message, as attribute and as text
    EXPECT_EQ("Device said\nERR\nagain", failures[0]);
    EXPECT_EQ("Device said\nERR\nagain", failures[1]);
}

// A report replaces only a regular file or takes a name that is free: a device, a FIFO, a
// symbolic link or a folder under that name is refused and left as it was, at the start (which
// also clears an old report) and at the write.
TEST(RunReportTest, OnlyAFreeNameOrARegularFileIsReplacedByAReport) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::ofstream(folder.File("target")) << "keep";
    struct Row {
        const char* name;
        std::function<bool(const std::string&)> make;
        const char* refusal; // empty: the path may take a report
    };
    const std::vector<Row> rows = {
        {"free", [](const std::string&) { return true; }, ""},
        {"regular", [](const std::string& p) { return !!(std::ofstream(p) << "old"); }, ""},
        {"fifo", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }, "FIFO"},
        {"symlink",
         [&](const std::string& p) {
             return ::symlink(folder.File("target").c_str(), p.c_str()) == 0;
         },
         "symbolic link"},
        {"folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; }, "folder"},
        // What /dev/null is; only where device nodes may be made.
        {"device",
         [](const std::string& p) {
             return ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 || errno == EPERM;
         },
         "character device"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder.File(row.name);
        ASSERT_TRUE(row.make(path)) << std::strerror(errno);
        struct stat before {};
        const bool existed = ::lstat(path.c_str(), &before) == 0;
        if (*row.refusal != '\0' && !existed) {
            continue; // no device node without the right to make one
        }
        const std::string refusal = ClearReportPaths({path, ""});
        struct stat after {};
        if (*row.refusal == '\0') {
            EXPECT_EQ("", refusal);
            EXPECT_NE(0, ::lstat(path.c_str(), &after)) << "an old report is gone at the start";
            EXPECT_EQ("", WriteReports(EveryOutcome(), path, ""));
            ASSERT_EQ(0, ::lstat(path.c_str(), &after));
            EXPECT_TRUE(S_ISREG(after.st_mode));
            continue;
        }
        for (const std::string& message : {refusal, WriteReports(EveryOutcome(), path, "")}) {
            EXPECT_NE(std::string::npos, message.find(path + " is a " + row.refusal)) << message;
        }
        ASSERT_EQ(0, ::lstat(path.c_str(), &after));
        EXPECT_EQ(before.st_mode, after.st_mode);
        EXPECT_EQ(before.st_ino, after.st_ino);
    }
    std::stringstream target;
    target << std::ifstream(folder.File("target")).rdbuf();
    EXPECT_EQ("keep", target.str()) << "written through the link";
}

TEST(RunReportTest, AtomicWriteReplacesTheFileOrSaysWhyNot) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const fs::path dir = folder.Path();
    const std::string path = (dir / "report.json").string();
    std::ofstream(path) << "old";
    EXPECT_EQ("", WriteFileAtomically(path, "new\n"));
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ("new\n", text.str());
    const std::string missing = (dir / "no/such/folder/report.json").string();
    const std::string message = WriteFileAtomically(missing, "x");
    EXPECT_NE(std::string::npos, message.find(missing)) << message;
    EXPECT_NE(std::string::npos, message.find("No such file")) << message;
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(RunReportTest, IsoTimeHasMillisecondsAndAnOffsetWithColon) {
    const std::string t = IsoTimeNow();
    ASSERT_EQ(29u, t.size()) << t;
    EXPECT_EQ('T', t[10]);
    EXPECT_EQ('.', t[19]);
    EXPECT_EQ(':', t[26]);
}

} // namespace
} // namespace pellwick
