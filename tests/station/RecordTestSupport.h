// Shared pieces of the database tests: boards with two files, a fresh database on the private
// PostgreSQL server, checks read straight from a database, and the station program's answers.
#pragma once

#include "station/BoardDatabase.h"
#include "support/ChildProcess.h"
#include "support/PostgresServer.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace pellwick::test {

// Every field its own value, so that two columns mixed up show.
inline BoardResult TwoFileBoard(int slot, const std::string& label, bool passed,
                                const std::string& start = "2026-12-11T08:00:00.000+01:00",
                                const std::string& end = "2026-12-11T08:00:05.250+01:00") {
    const std::string n = std::to_string(slot);
    BoardResult b{.Station = "line-1",
                  .Host = "bench",
                  .Operator = "ada",
                  .ToolVersion = "1.2.3",
                  .Slot = slot,
                  .Port = "COM" + n,
                  .Device = "/dev/ttyUSB" + n,
                  .Place = "1-1." + n,
                  .ByPath = "/dev/serial/by-path/usb-0:1." + n,
                  .AdapterSerial = "A10K" + n,
                  .Label = label,
                  .BoardId = {},
                  .Script = "flash.sld",
                  .ScriptSha256 = std::string(64, 'c'),
                  .StartTime = start,
                  .EndTime = end,
                  .Seconds = 5.25,
                  .Passed = passed,
                  .End = passed ? RunEnd::Completed : RunEnd::Refused,
                  .Cause = passed ? "" : "The device answered \"ERR\", then hung up.",
                  .Message = {},
                  .Files = {}};
    for (int i = 0; i < 2; ++i) {
        FileRecord f;
        f.Name = i == 0 ? "boot.bin" : "app, \"main\".bin";
        f.Address = i == 0 ? "00000000" : "00020000";
        f.Size = 1024u * (i + 1);
        f.Sha256 = std::string(64, i == 0 ? 'a' : 'b');
        f.Outcome = passed || i == 0 ? FileOutcome::Verified : FileOutcome::Refused;
        f.BytesSent = 1000 * (i + 1);
        f.TransferSeconds = 1.5 + i;
        f.VerifySeconds = 0.25;
        f.Cause = f.Outcome == FileOutcome::Verified ? "" : b.Cause;
        b.Files.push_back(f);
    }
    return b;
}

// Begin and Finish of one board: its attempt number, 0 (and a test failure) when not written.
inline int Record(BoardDatabase& db, const BoardResult& board) {
    std::int64_t id = 0;
    int attempt = 0;
    std::string error = db.Begin(board, id);
    error += db.Finish(id, board, attempt);
    EXPECT_EQ(error, "");
    return attempt;
}

// The private server of this test process, started at the first use.
inline PostgresServer& SharedPostgres() {
    static PostgresServer server;
    return server;
}

// A plain connection for a test's checks: station.db in folder, or a database on the server.
class CheckConnection {
public:
    explicit CheckConnection(const std::string& address, const std::string& folder = {}) {
        static std::atomic<int> next{0};
        name_ = QString("check-%1").arg(++next);
        QSqlDatabase db = QSqlDatabase::addDatabase(address.empty() ? "QSQLITE" : "QPSQL", name_);
        if (address.empty()) {
            db.setDatabaseName(QString::fromStdString(folder + "/station.db"));
        } else {
            db.setHostName("127.0.0.1");
            db.setPort(SharedPostgres().Port());
            db.setUserName("pellwick");
            db.setDatabaseName(QString::fromStdString(address.substr(address.rfind('/') + 1)));
        }
        db.open();
    }
    ~CheckConnection() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    CheckConnection(const CheckConnection&) = delete;
    CheckConnection& operator=(const CheckConnection&) = delete;

    // The first column of the first row as text, "no row", or "error".
    std::string Value(const std::string& sql) const {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        if (!q.exec(QString::fromStdString(sql))) {
            return "error";
        }
        return q.next() ? q.value(0).toString().toStdString() : "no row";
    }
    // -1 where the answer is no number.
    long long Count(const std::string& sql) const {
        const std::string v = Value(sql);
        char* end = nullptr;
        const long long n = std::strtoll(v.c_str(), &end, 10);
        return v.empty() || *end != '\0' ? -1 : n;
    }

private:
    QString name_;
};

// A fresh, empty database of its own on the shared server; empty when it cannot be made.
inline std::string FreshPostgresDatabase() {
    static std::atomic<int> next{0};
    const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++next);
    CheckConnection admin(SharedPostgres().Address("postgres"));
    return admin.Value("CREATE DATABASE " + name) == "no row" ? SharedPostgres().Address(name)
                                                              : std::string();
}

// A station folder whose station.ini names the database (empty: station.db there) and a slot
// whose adapter is absent: the queries must not need it.
inline void WriteStationIni(const std::string& folder, const std::string& database) {
    if (std::FILE* ini = std::fopen((folder + "/station.ini").c_str(), "w")) {
        std::fprintf(ini, "[Slots]\nSlot1=/dev/serial/by-id/absent\n[Record]\nDatabase=%s\n",
                     database.c_str());
        std::fclose(ini);
    }
}

#ifdef PELLWICK_STATION_EXE
// Runs pellwick-station with args (TZ=UTC); its standard output and error go into output.
// Returns its exit status, -1 when it could not be started.
inline int RunStation(const std::vector<std::string>& args, std::string& output) {
    const char* path = std::getenv("PATH");
    std::vector<std::string> env = {"TZ=UTC", std::string("PATH=") + (path ? path : "/usr/bin")};
    std::vector<char*> envp = CStringArray(env);
    SpawnOptions options;
    options.envp = envp.data();
    options.noInput = true;
    options.errorsToo = true;
    pid_t pid = -1;
    int fd = -1;
    if (!SpawnWithOutputPipe(PELLWICK_STATION_EXE, args, options, pid, fd, output)) {
        return -1;
    }
    output.clear();
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    return ExitStatusOf(status);
}
#endif

} // namespace pellwick::test
