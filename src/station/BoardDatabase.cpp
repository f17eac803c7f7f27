#include "station/BoardDatabase.h"

#include "station/RecordStore.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <sys/stat.h>
#include <vector>

namespace pellwick {

namespace {

const char* const InterruptedCause = "The station stopped while the board was being loaded.";
// Tries of a Finish whose attempt number another station took at the same moment.
constexpr int NumberTries = 5;
// PostgreSQL's SQLSTATE for a unique key taken.
const char* const UniqueViolation = "23505";

QVariant Text(const std::string& text) {
    return QString::fromStdString(text);
}

QVariant Epoch(const std::string& isoTime) {
    const std::int64_t epoch = EpochSeconds(isoTime);
    return epoch >= 0 ? QVariant(static_cast<qlonglong>(epoch))
                      : QVariant(QMetaType::fromType<qlonglong>());
}

// The columns an attempt and an unfinished board share, in their order: where, on what and
// which board.
std::vector<QVariant> BoardColumns(const std::string& station, const std::string& host,
                                   const BoardResult& b) {
    return {Text(station),         Text(host),    Text(b.Operator),
            Text(b.ToolVersion),   b.Slot,        Text(b.Port),
            Text(b.Device),        Text(b.Place), Text(b.ByPath),
            Text(b.AdapterSerial), Text(b.Label), Text(b.BoardId)};
}

void Bind(QSqlQuery& query, const std::vector<QVariant>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        query.bindValue(static_cast<int>(i), values[i]);
    }
}

const char* const InsertAttempt =
    "INSERT INTO attempts (station, host, operator, tool_version, slot, port, device, place,"
    " by_path, adapter_serial, label, board_id, board_key, attempt, script, script_sha256,"
    " start_time, end_time, start_epoch, end_epoch, seconds, verdict, run_end, cause, message)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " RETURNING id";
const char* const InsertFile =
    "INSERT INTO attempt_files (attempt_id, position, name, address, size, sha256, outcome,"
    " bytes_sent, transfer_seconds, verify_seconds, cause) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
    "?)";
const char* const InsertUnfinished =
    "INSERT INTO unfinished (station, host, operator, tool_version, slot, port, device, place,"
    " by_path, adapter_serial, label, board_id, script, script_sha256, start_time, start_epoch)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id";
const char* const SelectUnfinished =
    "SELECT id, operator, tool_version, slot, port, device, place, by_path, adapter_serial,"
    " label, board_id, script, script_sha256, start_time FROM unfinished"
    " WHERE station = ? AND host = ? ORDER BY id";

} // namespace

struct BoardDatabase::Impl {
    RecordAddress address;
    QString connection;
    std::string station;
    std::string host;
    int interrupted = 0;
    bool open = false;
    // The SQLite file as opened: a file removed under the station would take writes that
    // nobody can read again.
    dev_t device = 0;
    ino_t inode = 0;
    // Prepared once: a Finish on the GUI thread does not parse its statements again.
    std::unique_ptr<QSqlQuery> nextAttempt, insertAttempt, insertFile, insertUnfinished,
        deleteUnfinished;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    std::string Prepare() {
        QSqlDatabase db = Db();
        struct Statement {
            std::unique_ptr<QSqlQuery>& query;
            const char* sql;
        };
        const Statement statements[] = {
            {nextAttempt, "SELECT COALESCE(MAX(attempt), 0) + 1 FROM attempts WHERE board_key = ?"},
            {insertAttempt, InsertAttempt},
            {insertFile, InsertFile},
            {insertUnfinished, InsertUnfinished},
            {deleteUnfinished, "DELETE FROM unfinished WHERE id = ?"},
        };
        for (const Statement& s : statements) {
            s.query = std::make_unique<QSqlQuery>(db);
            if (!s.query->prepare(s.sql)) {
                return ErrorText(s.query->lastError());
            }
        }
        return {};
    }

    std::string Exec(const char* sql) {
        QSqlQuery query(Db());
        return query.exec(sql) ? std::string() : ErrorText(query.lastError());
    }

    std::string NoteFile() {
        struct stat st {};
        if (!address.Postgres) {
            if (stat(address.Path.c_str(), &st) != 0) {
                return "it vanished as it was opened";
            }
            device = st.st_dev;
            inode = st.st_ino;
        }
        return {};
    }

    // Empty while the SQLite file is the one opened.
    std::string FileGone() const {
        struct stat st {};
        if (address.Postgres ||
            (stat(address.Path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode)) {
            return {};
        }
        return "the file was removed or replaced while the station ran";
    }

    std::string BeginTransaction() { return Exec(address.Postgres ? "BEGIN" : "BEGIN IMMEDIATE"); }

    // Runs a prepared statement; a failure leaves its text in error. For a RETURNING or a
    // SELECT, value receives the first column of the first row.
    bool Run(QSqlQuery& query, std::string& error, qlonglong* value = nullptr,
             QString* state = nullptr) {
        if (!query.exec()) {
            error = ErrorText(query.lastError());
            if (state != nullptr) {
                *state = query.lastError().nativeErrorCode();
            }
            return false;
        }
        if (value != nullptr) {
            if (!query.next()) {
                error = "the database returned no row";
                query.finish();
                return false;
            }
            *value = query.value(0).toLongLong();
        }
        query.finish();
        return true;
    }

    // The attempt and its files, inside the caller's transaction. unfinishedId: the row of
    // unfinished to take away with it (0: none).
    bool WriteAttempt(const BoardResult& b, const char* verdict, const std::string& cause,
                      qlonglong unfinishedId, int& attempt, std::string& error, QString& state) {
        const std::string key = BoardKey(b.Label, b.BoardId);
        qlonglong number = 1;
        if (!key.empty()) {
            nextAttempt->bindValue(0, Text(key));
            if (!Run(*nextAttempt, error, &number)) {
                return false;
            }
        }
        const bool unknownEnd = std::string(verdict) == "interrupted";
        // An interrupted board's end is not known: its epoch stays empty.
        const QVariant ends =
            unknownEnd ? QVariant(QMetaType::fromType<qlonglong>()) : Epoch(b.EndTime);
        std::vector<QVariant> values = BoardColumns(station, host, b);
        values.insert(values.end(),
                      {Text(key), number, Text(b.Script), Text(b.ScriptSha256), Text(b.StartTime),
                       Text(unknownEnd ? "" : b.EndTime), Epoch(b.StartTime), ends, b.Seconds,
                       QString(verdict), Text(unknownEnd ? "" : RunEndName(b.End)), Text(cause),
                       Text(b.Message)});
        Bind(*insertAttempt, values);
        qlonglong id = 0;
        if (!Run(*insertAttempt, error, &id, &state)) {
            return false;
        }
        for (std::size_t i = 0; i < b.Files.size(); ++i) {
            const FileRecord& f = b.Files[i];
            Bind(*insertFile,
                 {id, static_cast<int>(i + 1), Text(f.Name), Text(f.Address),
                  static_cast<qlonglong>(f.Size), Text(f.Sha256),
                  QString(FileOutcomeName(f.Outcome)), static_cast<qlonglong>(f.BytesSent),
                  f.TransferSeconds, f.VerifySeconds, Text(f.Cause)});
            if (!Run(*insertFile, error)) {
                return false;
            }
        }
        if (unfinishedId > 0) {
            deleteUnfinished->bindValue(0, unfinishedId);
            if (!Run(*deleteUnfinished, error)) {
                return false;
            }
        }
        if (error = FileGone(); !error.empty()) {
            return false;
        }
        attempt = static_cast<int>(number);
        return true;
    }

    // The boards an earlier run of this station left unfinished, as interrupted attempts.
    std::string RecoverUnfinished() {
        std::string error = BeginTransaction();
        std::vector<std::pair<qlonglong, BoardResult>> boards;
        if (error.empty()) {
            QSqlQuery select(Db());
            select.prepare(SelectUnfinished);
            select.addBindValue(Text(station));
            select.addBindValue(Text(host));
            if (!select.exec()) {
                error = ErrorText(select.lastError());
            }
            while (error.empty() && select.next()) {
                BoardResult b;
                b.Station = station;
                b.Host = host;
                int c = 1;
                auto next = [&] { return select.value(c++).toString().toStdString(); };
                b.Operator = next();
                b.ToolVersion = next();
                b.Slot = select.value(c++).toInt();
                b.Port = next();
                b.Device = next();
                b.Place = next();
                b.ByPath = next();
                b.AdapterSerial = next();
                b.Label = next();
                b.BoardId = next();
                b.Script = next();
                b.ScriptSha256 = next();
                b.StartTime = next();
                boards.emplace_back(select.value(0).toLongLong(), std::move(b));
            }
        }
        QString state;
        for (const auto& [id, board] : boards) {
            int attempt = 0;
            if (error.empty()) {
                WriteAttempt(board, "interrupted", InterruptedCause, id, attempt, error, state);
            }
        }
        if (error.empty()) {
            error = Exec("COMMIT");
        }
        if (!error.empty()) {
            Exec("ROLLBACK");
            return "The boards an earlier run of this station left unfinished could not be "
                   "recorded in " +
                   address.Shown + ": " + error + ".";
        }
        interrupted = static_cast<int>(boards.size());
        return {};
    }
};

BoardDatabase::BoardDatabase() : impl_(std::make_unique<Impl>()) {}

BoardDatabase::~BoardDatabase() {
    Close();
}

std::string BoardDatabase::Open(const std::string& address, const std::string& folder,
                                const std::string& station, const std::string& host) {
    Close();
    if (std::string error = ParseRecordAddress(address, folder, impl_->address); !error.empty()) {
        return "[Record] Database: " + error + ".";
    }
    const std::string name = NewConnectionName("board-db");
    if (std::string error = OpenRecordConnection(impl_->address, name, true); !error.empty()) {
        return error;
    }
    impl_->connection = QString::fromStdString(name);
    impl_->station = station;
    impl_->host = host;
    impl_->interrupted = 0;
    std::string error = impl_->NoteFile();
    if (error.empty()) {
        error = impl_->Prepare();
    }
    if (!error.empty()) {
        error = "The station's database " + impl_->address.Shown + " cannot take boards: " + error +
                ".";
    } else {
        error = impl_->RecoverUnfinished();
    }
    if (!error.empty()) {
        Close();
        return error;
    }
    impl_->open = true;
    return {};
}

int BoardDatabase::Interrupted() const {
    return impl_->interrupted;
}

std::string BoardDatabase::Begin(const BoardResult& b, std::int64_t& id) {
    id = 0;
    if (!impl_->open) {
        return "The station's database is not open.";
    }
    QSqlQuery& q = *impl_->insertUnfinished;
    std::vector<QVariant> values = BoardColumns(impl_->station, impl_->host, b);
    values.insert(values.end(),
                  {Text(b.Script), Text(b.ScriptSha256), Text(b.StartTime), Epoch(b.StartTime)});
    Bind(q, values);
    std::string error = impl_->FileGone();
    qlonglong row = 0;
    if (!error.empty() || !impl_->Run(q, error, &row)) {
        return "The start of the board in slot " + std::to_string(b.Slot) +
               " could not be written to the station's database " + impl_->address.Shown + ": " +
               error + ".";
    }
    id = row;
    return {};
}

std::string BoardDatabase::Finish(std::int64_t id, const BoardResult& board, int& attempt) {
    attempt = 0;
    if (!impl_->open) {
        return "The station's database is not open.";
    }
    std::string error;
    for (int tries = 0; tries < NumberTries; ++tries) {
        error = impl_->BeginTransaction();
        QString state;
        int number = 0;
        if (error.empty() && impl_->WriteAttempt(board, board.Passed ? "passed" : "failed",
                                                 board.Cause, id, number, error, state)) {
            error = impl_->Exec("COMMIT");
            if (error.empty()) {
                attempt = number;
                return {};
            }
        }
        impl_->Exec("ROLLBACK");
        // Another station took this board's next number first: count again.
        if (state != UniqueViolation) {
            break;
        }
    }
    return "The board in slot " + std::to_string(board.Slot) +
           " could not be written to the station's database " + impl_->address.Shown + ": " +
           error +
           ". Nothing of it was recorded there; station.log has it. Correct the database (its "
           "file, the disk or the server) and start the station again.";
}

std::string BoardDatabase::LastOfSlot(int slot, std::string& verdict, std::string& cause) {
    verdict.clear();
    cause.clear();
    if (!impl_->open) {
        return "The station's database is not open.";
    }
    QSqlQuery query(impl_->Db());
    query.prepare("SELECT verdict, cause FROM attempts WHERE station = ? AND host = ? AND slot = ?"
                  " ORDER BY id DESC LIMIT 1");
    query.addBindValue(Text(impl_->station));
    query.addBindValue(Text(impl_->host));
    query.addBindValue(slot);
    if (!query.exec()) {
        return "The station's database " + impl_->address.Shown +
               " cannot be read: " + ErrorText(query.lastError()) + ".";
    }
    if (query.next()) {
        verdict = query.value(0).toString().toStdString();
        cause = query.value(1).toString().toStdString();
    }
    return {};
}

void BoardDatabase::Close() {
    impl_->nextAttempt.reset();
    impl_->insertAttempt.reset();
    impl_->insertFile.reset();
    impl_->insertUnfinished.reset();
    impl_->deleteUnfinished.reset();
    impl_->open = false;
    if (!impl_->connection.isEmpty()) {
        {
            QSqlDatabase db = impl_->Db();
            db.close();
        }
        QSqlDatabase::removeDatabase(impl_->connection);
        impl_->connection.clear();
    }
}

bool BoardDatabase::IsOpen() const {
    return impl_->open;
}

} // namespace pellwick
