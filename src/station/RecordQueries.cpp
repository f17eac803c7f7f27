#include "station/RecordQueries.h"

#include "ini/PrivateProfile.h"
#include "station/RecordStore.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>
#include <algorithm>
#include <filesystem>
#include <map>

namespace pellwick {

namespace {

const char* const AttemptColumns =
    "id, station, host, operator, tool_version, slot, port, device, place, by_path,"
    " adapter_serial, label, board_id, board_key, attempt, script, script_sha256, start_time,"
    " end_time, start_epoch, end_epoch, seconds, verdict, run_end, cause, message";
const char* const FileColumns = "attempt_id, name, address, size, sha256, outcome, bytes_sent,"
                                " transfer_seconds, verify_seconds, cause";

Attempt AttemptOf(const QSqlQuery& q) {
    Attempt a;
    int c = 0;
    auto text = [&] { return q.value(c++).toString().toStdString(); };
    auto epoch = [&] {
        const QVariant v = q.value(c++);
        return v.isNull() ? std::int64_t{-1} : static_cast<std::int64_t>(v.toLongLong());
    };
    a.Id = q.value(c++).toLongLong();
    a.Station = text();
    a.Host = text();
    a.Operator = text();
    a.ToolVersion = text();
    a.Slot = q.value(c++).toInt();
    a.Port = text();
    a.Device = text();
    a.Place = text();
    a.ByPath = text();
    a.AdapterSerial = text();
    a.Label = text();
    a.BoardId = text();
    a.BoardKey = text();
    a.Number = q.value(c++).toInt();
    a.Script = text();
    a.ScriptSha256 = text();
    a.StartTime = text();
    a.EndTime = text();
    a.StartEpoch = epoch();
    a.EndEpoch = epoch();
    a.Seconds = q.value(c++).toDouble();
    a.Verdict = text();
    a.RunEnd = text();
    a.Cause = text();
    a.Message = text();
    return a;
}

std::string Percent(int part, int whole) {
    if (whole == 0) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %% (%d of %d)", 100.0 * part / whole, part, whole);
    return text;
}

// The local hour an attempt ended in, as text that sorts in time.
std::string HourOf(std::int64_t epoch) {
    if (epoch < 0) {
        return "(time not known)";
    }
    QDateTime t = QDateTime::fromSecsSinceEpoch(epoch).toLocalTime();
    t.setTime(QTime(t.time().hour(), 0));
    return t.toString("yyyy-MM-ddTHH:00").toStdString();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace

std::string ReadRecordAddress(const std::string& folder, std::string& address) {
    address.clear();
    const std::string path = (std::filesystem::path(folder) / "station.ini").string();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return path + " does not exist: name the station folder, or run in it";
    }
    // Any case, as the station reads its keys.
    address = PrivateProfile(path).ReadString("Record", "Database", "");
    return {};
}

std::optional<std::int64_t> ParseSinceTime(const std::string& text) {
    static const QRegularExpression form(
        "^(\\d{4})-(\\d{2})-(\\d{2})(?:T(\\d{2}):(\\d{2})(?::(\\d{2}))?(Z|[+-]\\d{2}:\\d{2})?)?$");
    const QRegularExpressionMatch m = form.match(QString::fromStdString(text));
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    const QString zone = m.captured(7);
    QDateTime when;
    if (zone.isEmpty()) {
        when = QDateTime(date, time);
    } else if (zone == "Z") {
        when = QDateTime(date, time, QTimeZone::utc());
    } else {
        const int sign = zone[0] == '-' ? -1 : 1;
        const int hours = zone.mid(1, 2).toInt();
        const int minutes = zone.mid(4, 2).toInt();
        if (hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        when = QDateTime(date, time, QTimeZone(sign * (hours * 3600 + minutes * 60)));
    }
    if (!when.isValid()) {
        return std::nullopt;
    }
    return when.toSecsSinceEpoch();
}

struct RecordReader::Impl {
    RecordAddress address;
    QString connection;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    std::string Failed(const QSqlQuery& q) const {
        return "The station's database " + address.Shown +
               " could not be read: " + ErrorText(q.lastError()) + ".";
    }

    // The attempts that meet the condition (nothing: all), with their files, in order.
    std::string Read(const QString& condition, const QVariantList& binds, const QString& order,
                     std::vector<Attempt>& out) {
        out.clear();
        const QString where = condition.isEmpty() ? QString() : " WHERE " + condition;
        QSqlQuery q(Db());
        q.setForwardOnly(true);
        q.prepare(
            QString("SELECT %1 FROM attempts%2 ORDER BY %3").arg(AttemptColumns, where, order));
        for (const QVariant& bind : binds) {
            q.addBindValue(bind);
        }
        if (!q.exec()) {
            return Failed(q);
        }
        std::map<std::int64_t, std::size_t> index;
        while (q.next()) {
            out.push_back(AttemptOf(q));
            index[out.back().Id] = out.size() - 1;
        }
        q.finish();
        if (out.empty()) {
            return {};
        }
        QSqlQuery files(Db());
        files.setForwardOnly(true);
        files.prepare(QString("SELECT %1 FROM attempt_files%2 ORDER BY attempt_id, position")
                          .arg(FileColumns, condition.isEmpty() ? QString()
                                                                : " WHERE attempt_id IN (SELECT id "
                                                                  "FROM attempts" +
                                                                      where + ")"));
        for (const QVariant& bind : binds) {
            files.addBindValue(bind);
        }
        if (!files.exec()) {
            return Failed(files);
        }
        while (files.next()) {
            // An attempt written after the first query is not among those read.
            const auto found = index.find(files.value(0).toLongLong());
            if (found == index.end()) {
                continue;
            }
            FileAttempt f;
            f.Name = files.value(1).toString().toStdString();
            f.Address = files.value(2).toString().toStdString();
            f.Size = files.value(3).toLongLong();
            f.Sha256 = files.value(4).toString().toStdString();
            f.Outcome = files.value(5).toString().toStdString();
            f.BytesSent = files.value(6).toLongLong();
            f.TransferSeconds = files.value(7).toDouble();
            f.VerifySeconds = files.value(8).toDouble();
            f.Cause = files.value(9).toString().toStdString();
            out[found->second].Files.push_back(std::move(f));
        }
        return {};
    }
};

RecordReader::RecordReader() : impl_(std::make_unique<Impl>()) {}

RecordReader::~RecordReader() {
    if (!impl_->connection.isEmpty()) {
        {
            QSqlDatabase db = impl_->Db();
            db.close();
        }
        QSqlDatabase::removeDatabase(impl_->connection);
    }
}

std::string RecordReader::Open(const std::string& address, const std::string& folder) {
    if (std::string error = ParseRecordAddress(address, folder, impl_->address); !error.empty()) {
        return "[Record] Database: " + error + ".";
    }
    const std::string name = NewConnectionName("record-reader");
    if (std::string error = OpenRecordConnection(impl_->address, name, false); !error.empty()) {
        return error;
    }
    impl_->connection = QString::fromStdString(name);
    return {};
}

std::string RecordReader::Attempts(std::optional<std::int64_t> since, std::vector<Attempt>& out) {
    if (!since) {
        return impl_->Read({}, {}, "id", out);
    }
    return impl_->Read("COALESCE(end_epoch, start_epoch) >= ?", {static_cast<qlonglong>(*since)},
                       "id", out);
}

std::string RecordReader::History(const std::string& labelOrId, std::vector<Attempt>& out) {
    const QString board = QString::fromStdString(labelOrId);
    return impl_->Read("label = ? OR board_id = ?", {board, board},
                       "COALESCE(start_epoch, end_epoch), attempt, id", out);
}

const std::string& RecordReader::Shown() const {
    return impl_->address.Shown;
}

Summary Summarize(const std::vector<Attempt>& attempts, SummaryGroup by, std::int64_t now) {
    Summary s;
    s.Attempts = static_cast<int>(attempts.size());
    // Each board's attempts, in the order of their numbers.
    std::map<std::string, std::vector<const Attempt*>> boards;
    for (const Attempt& a : attempts) {
        const std::string key = a.BoardKey.empty() ? "#" + std::to_string(a.Id) : a.BoardKey;
        boards[key].push_back(&a);
        const std::int64_t t = a.Time();
        if (t >= 0 && t > now - 3600 && t <= now) {
            ++s.LastHour;
        }
    }
    std::map<std::string, YieldLine> groups;
    std::map<std::string, int> slotOrder;
    for (auto& [key, list] : boards) {
        std::stable_sort(list.begin(), list.end(), [](const Attempt* x, const Attempt* y) {
            return x->Number != y->Number ? x->Number < y->Number : x->Id < y->Id;
        });
        const Attempt& first = *list.front();
        const bool firstPassed = first.Verdict == "passed";
        const bool finalPassed = list.back()->Verdict == "passed";
        std::string group;
        switch (by) {
        case SummaryGroup::Slot:
            group = std::to_string(first.Slot);
            slotOrder[group] = first.Slot;
            break;
        case SummaryGroup::Cause:
            group = firstPassed           ? "(passed)"
                    : first.Cause.empty() ? "(no cause given)"
                                          : first.Cause;
            break;
        case SummaryGroup::Hour:
            group = HourOf(first.Time());
            break;
        }
        for (YieldLine* line : {&s.All, &groups[group]}) {
            ++line->Boards;
            line->FirstPassed += firstPassed ? 1 : 0;
            line->FinalPassed += finalPassed ? 1 : 0;
        }
    }
    for (auto& [name, line] : groups) {
        line.Group = name;
        s.Groups.push_back(line);
    }
    if (by == SummaryGroup::Slot) {
        std::sort(s.Groups.begin(), s.Groups.end(), [&](const YieldLine& x, const YieldLine& y) {
            return slotOrder[x.Group] < slotOrder[y.Group];
        });
    } else if (by == SummaryGroup::Cause) {
        // The costliest cause first.
        std::stable_sort(
            s.Groups.begin(), s.Groups.end(),
            [](const YieldLine& x, const YieldLine& y) { return x.Boards > y.Boards; });
    }
    return s;
}

std::string SummaryText(const Summary& s, SummaryGroup by, const std::string& since) {
    std::string text = "Boards: " + std::to_string(s.All.Boards) + " (" +
                       std::to_string(s.Attempts) + " attempts" +
                       (since.empty() ? std::string() : ", since " + since) + ")\n";
    text += "First-pass yield: " + Percent(s.All.FirstPassed, s.All.Boards) + "\n";
    text += "Final yield: " + Percent(s.All.FinalPassed, s.All.Boards) + "\n";
    text += "Attempts ended in the last hour: " + std::to_string(s.LastHour) + "\n";
    if (s.Groups.empty()) {
        return text;
    }
    const char* heading = by == SummaryGroup::Slot    ? "Slot"
                          : by == SummaryGroup::Cause ? "Cause"
                                                      : "Hour";
    std::size_t width = std::string(heading).size();
    for (const YieldLine& line : s.Groups) {
        width = std::max(width, line.Group.size());
    }
    char row[1024];
    std::snprintf(row, sizeof row, "\n%-*s  %6s  %-24s  %s\n", static_cast<int>(width), heading,
                  "Boards", "First pass", "Final");
    text += row;
    for (const YieldLine& line : s.Groups) {
        text += line.Group;
        text += std::string(width - line.Group.size(), ' ');
        std::snprintf(row, sizeof row, "  %6d  %-24s  %s\n", line.Boards,
                      Percent(line.FirstPassed, line.Boards).c_str(),
                      Percent(line.FinalPassed, line.Boards).c_str());
        text += row;
    }
    return text;
}

std::string HistoryText(const std::string& labelOrId, const std::vector<Attempt>& attempts) {
    if (attempts.empty()) {
        return "No attempt of the board " + labelOrId + " is recorded.\n";
    }
    std::string text = "Board " + labelOrId + ": " + std::to_string(attempts.size()) +
                       (attempts.size() == 1 ? " attempt\n" : " attempts\n");
    for (const Attempt& a : attempts) {
        text += "\nattempt " + std::to_string(a.Number) + "  " + a.StartTime;
        if (!a.EndTime.empty()) {
            text += " to " + a.EndTime;
        }
        text += "\n  station " + a.Station + " (" + a.Host + "), slot " + std::to_string(a.Slot);
        if (!a.Place.empty()) {
            text += ", place " + a.Place;
        }
        if (!a.AdapterSerial.empty()) {
            text += ", adapter " + a.AdapterSerial;
        }
        if (!a.Label.empty() && !a.BoardId.empty()) {
            text += ", label " + a.Label + ", board id " + a.BoardId;
        }
        text += "\n  " + a.Verdict;
        if (!a.Cause.empty()) {
            text += ": " + a.Cause;
        }
        text += "\n";
        for (const FileAttempt& f : a.Files) {
            text += "    " + f.Name + "  " + f.Outcome + "  " + std::to_string(f.BytesSent) +
                    " bytes  " + Number(f.TransferSeconds + f.VerifySeconds) + " s";
            if (!f.Sha256.empty()) {
                text += "  sha256 " + f.Sha256;
            }
            if (!f.Cause.empty()) {
                text += "  " + f.Cause;
            }
            text += "\n";
        }
    }
    return text;
}

std::string CsvText(const std::vector<Attempt>& attempts) {
    std::string text = "start_time,end_time,station,host,operator,tool_version,slot,port,device,"
                       "place,by_path,adapter_serial,label,board_id,attempt,script,script_sha256,"
                       "verdict,run_end,cause,seconds,files\r\n";
    for (const Attempt& a : attempts) {
        std::string files;
        for (const FileAttempt& f : a.Files) {
            files += (files.empty() ? "" : "; ") + f.Name + " (" + f.Outcome + ")";
        }
        const std::string fields[] = {a.StartTime,
                                      a.EndTime,
                                      a.Station,
                                      a.Host,
                                      a.Operator,
                                      a.ToolVersion,
                                      std::to_string(a.Slot),
                                      a.Port,
                                      a.Device,
                                      a.Place,
                                      a.ByPath,
                                      a.AdapterSerial,
                                      a.Label,
                                      a.BoardId,
                                      std::to_string(a.Number),
                                      a.Script,
                                      a.ScriptSha256,
                                      a.Verdict,
                                      a.RunEnd,
                                      a.Cause,
                                      Number(a.Seconds),
                                      files};
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            text += (i > 0 ? "," : "") + CsvField(fields[i]);
        }
        text += "\r\n";
    }
    return text;
}

} // namespace pellwick
