// Shared pieces of the database tests: boards with two files, a fresh database on SQLite or
// on the private PostgreSQL server, and counts read straight from it.
#pragma once

#include "station/BoardResult.h"
#include "support/ChildProcess.h"
#include "support/PostgresServer.h"
#include "support/TempFolder.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace pellwick::test {

inline BoardResult TwoFileBoard(int slot, const std::string& label, bool passed,
                                const std::string& start = "2026-12-11T08:00:00.000+01:00",
                                const std::string& end = "2026-12-11T08:00:05.250+01:00") {
    BoardResult b;
    b.Station = "line-1";
    b.Host = "bench";
    b.Operator = "ada";
    b.ToolVersion = "1.2.3";
    b.Slot = slot;
    b.Port = "COM" + std::to_string(slot + 2);
    b.Device = "/dev/ttyUSB" + std::to_string(slot);
    b.Place = "1-1." + std::to_string(slot);
    b.ByPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1." + std::to_string(slot) + ":1.0";
    b.AdapterSerial = "A10K" + std::to_string(slot);
    b.Label = label;
    b.Script = "flash.sld";
    b.ScriptSha256 = std::string(64, 'c');
    b.StartTime = start;
    b.EndTime = end;
    b.Seconds = 5.25;
    b.Passed = passed;
    b.End = passed ? RunEnd::Completed : RunEnd::Refused;
    b.Cause = passed ? "" : "The device answered \"ERR\", then hung up.";
    for (int i = 0; i < 2; ++i) {
        FileRecord f;
        f.Name = i == 0 ? "boot.bin" : "app, \"main\".bin";
        f.Address = i == 0 ? "00000000" : "00020000";
        f.Size = 1024u * (i + 1);
        f.Sha256 = std::string(64, i == 0 ? 'a' : 'b');
        f.Outcome = passed || i == 0 ? FileOutcome::Verified : FileOutcome::Refused;
        f.BytesSent = static_cast<std::int64_t>(f.Size);
        f.TransferSeconds = 1.5 + i;
        f.VerifySeconds = 0.25;
        f.Cause = f.Outcome == FileOutcome::Verified ? "" : b.Cause;
        b.Files.push_back(f);
    }
    return b;
}

// The private server of this test process, started at the first use.
inline PostgresServer& SharedPostgres() {
    static PostgresServer server;
    return server;
}

// A plain connection for the checks of a test, closed with it.
class CheckConnection {
public:
    explicit CheckConnection(const std::string& address, const std::string& folder = {}) {
        static std::atomic<int> next{0};
        name_ = QString("check-%1").arg(++next);
        QSqlDatabase db;
        if (address.empty()) {
            db = QSqlDatabase::addDatabase("QSQLITE", name_);
            db.setDatabaseName(QString::fromStdString(folder + "/station.db"));
        } else {
            db = QSqlDatabase::addDatabase("QPSQL", name_);
            const PostgresServer& server = SharedPostgres();
            db.setHostName("127.0.0.1");
            db.setPort(server.Port());
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

    // The first column of the first row, as text; the error where the query fails.
    std::string Value(const std::string& sql) const {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        if (!q.exec(QString::fromStdString(sql))) {
            return "error: " + q.lastError().text().toStdString();
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

#ifdef PELLWICK_STATION_EXE
// Runs pellwick-station with args (TZ=UTC); its standard output and error go into output.
// Returns its exit status, -1 when it could not be started.
inline int RunStation(const std::vector<std::string>& args, std::string& output) {
    std::vector<std::string> env = {"TZ=UTC", "QT_QPA_PLATFORM=offscreen"};
    if (const char* path = std::getenv("PATH")) {
        env.push_back(std::string("PATH=") + path);
    }
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

// A station folder whose station.ini names the database (empty: station.db there) and a slot
// whose adapter is absent: the queries must not need it.
inline void WriteStationIni(const std::string& folder, const std::string& database) {
    std::FILE* ini = std::fopen((folder + "/station.ini").c_str(), "w");
    if (ini != nullptr) {
        std::fprintf(ini,
                     "[Slots]\nSlot1=/dev/serial/by-id/absent-adapter\nStart1=button\n"
                     "[Record]\nDatabase=%s\n",
                     database.c_str());
        std::fclose(ini);
    }
}

} // namespace pellwick::test
