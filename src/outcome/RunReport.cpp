#include "outcome/RunReport.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

namespace {

// Names, versions and box texts come from scripts, file systems and devices in whatever bytes
// they hold, often Latin-1; both reports are UTF-8, so what is not becomes U+FFFD.
QString FromBytes(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Box texts join their lines with CR; a report's messages end their lines with line feeds.
std::string MessageLines(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else if (i + 1 == text.size() || text[i + 1] != '\n') {
            out += '\n';
        }
    }
    return out;
}

// XML 1.0 cannot carry most control characters, nor U+FFFE and U+FFFF, at all: the controls
// become '?', the two U+FFFD.
std::string XmlText(std::string_view bytes) {
    QString out;
    for (const QChar c : FromBytes(bytes)) {
        switch (c.unicode()) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case 0xFFFE:
        case 0xFFFF:
            out += QChar(QChar::ReplacementCharacter);
            break;
        default:
            out += c.unicode() < 0x20 ? QChar('?') : c;
        }
    }
    return out.toStdString();
}

std::string Fixed(double value, int decimals = 3) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string Hex8(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", value);
    return buf;
}

// The _LA text as a number when it is one (hexadecimal, as the device reads it); 0 otherwise,
// since the script may carry any word there.
std::uint32_t AddressValue(const std::string& text) {
    if (text.empty() || text[0] == '-') {
        return 0;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) {
        return 0;
    }
    return static_cast<std::uint32_t>(value);
}

bool Failed(FileOutcome outcome) {
    return outcome == FileOutcome::Refused || outcome == FileOutcome::NotVerified ||
           outcome == FileOutcome::HungUp || outcome == FileOutcome::Failed;
}

} // namespace

std::string JsonString(std::string_view bytes) {
    const std::string text = FromBytes(bytes).toStdString();
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

FileReport ReportOf(const FileRecord& file) {
    FileReport report;
    report.file = file.Name;
    report.address = AddressValue(file.Address);
    report.size = file.Size;
    report.checksum = file.Checksum;
    report.version = file.Version;
    report.outcome = file.Outcome;
    report.bytesSent = static_cast<std::uint64_t>(std::max<std::int64_t>(file.BytesSent, 0));
    report.transferSeconds = file.TransferSeconds;
    report.verifySeconds = file.VerifySeconds;
    report.cause = file.Cause;
    report.message = file.Message;
    return report;
}

double FileReport::BytesPerSecond() const {
    return transferSeconds > 0 ? static_cast<double>(bytesSent) / transferSeconds : 0;
}

std::string ReportJson(const RunReport& r) {
    std::string j = "{\n";
    j += "  \"script\": " + JsonString(r.script) + ",\n";
    j += "  \"port\": {\"name\": " + JsonString(r.comName) +
         ", \"device\": " + JsonString(r.devicePath) + "},\n";
    j += "  \"line\": {\"baud\": " + std::to_string(r.baudRate) +
         ", \"data_bits\": " + std::to_string(r.dataBits) +
         ", \"parity\": " + JsonString(r.parity) + ", \"stop_bits\": " + JsonString(r.stopBits) +
         ", \"hardware_flow\": " + (r.hardwareFlow ? "true" : "false") + "},\n";
    j += "  \"start\": " + JsonString(r.startTime) + ",\n";
    j += "  \"end\": " + JsonString(r.endTime) + ",\n";
    j += "  \"exit\": {\"status\": " + std::to_string(r.exitStatus) +
         ", \"name\": " + JsonString(r.exitName) +
         ", \"message\": " + JsonString(MessageLines(r.message)) + "},\n";
    j += "  \"files\": [";
    for (std::size_t i = 0; i < r.files.size(); ++i) {
        const FileReport& f = r.files[i];
        j += i == 0 ? "\n" : ",\n";
        j += "    {\"file\": " + JsonString(f.file) +
             ", \"address\": " + JsonString(Hex8(f.address)) +
             ", \"size\": " + std::to_string(f.size) +
             ", \"checksum\": " + JsonString(Hex8(f.checksum)) +
             ", \"version\": " + JsonString(f.version) +
             ", \"outcome\": " + JsonString(FileOutcomeName(f.outcome)) +
             ", \"bytes_sent\": " + std::to_string(f.bytesSent) +
             ", \"transfer_seconds\": " + Fixed(f.transferSeconds) +
             ", \"verify_seconds\": " + Fixed(f.verifySeconds) +
             ", \"bytes_per_second\": " + Fixed(f.BytesPerSecond(), 0) +
             ", \"cause\": " + JsonString(f.cause) +
             ", \"message\": " + JsonString(MessageLines(f.message)) + "}";
    }
    j += r.files.empty() ? "]\n" : "\n  ]\n";
    return j + "}\n";
}

std::string ReportJUnit(const RunReport& r) {
    int failures = 0;
    int skipped = 0;
    double seconds = 0;
    for (const FileReport& f : r.files) {
        failures += Failed(f.outcome) ? 1 : 0;
        skipped += Failed(f.outcome) || f.outcome == FileOutcome::Verified ? 0 : 1;
        seconds += f.transferSeconds + f.verifySeconds;
    }
    // A run that ended in an error with no file to blame gets a test case of its own, so that
    // CI shows the failure (a port that cannot be opened, a script error).
    const bool runCase = r.exitStatus != 0 && failures == 0;
    const std::string suite = XmlText(r.script.empty() ? "pellwick-run" : r.script);
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += "<testsuites>\n";
    x += "  <testsuite name=\"" + suite + "\" tests=\"" +
         std::to_string(r.files.size() + (runCase ? 1 : 0)) + "\" failures=\"" +
         std::to_string(failures + (runCase ? 1 : 0)) + "\" errors=\"0\" skipped=\"" +
         std::to_string(skipped) + "\" time=\"" + Fixed(seconds) + "\" timestamp=\"" +
         XmlText(r.startTime) + "\">\n";
    x += "    <properties>\n";
    x += "      <property name=\"port\" value=\"" + XmlText(r.comName) + "\"/>\n";
    x += "      <property name=\"device\" value=\"" + XmlText(r.devicePath) + "\"/>\n";
    x += "      <property name=\"exit\" value=\"" + std::to_string(r.exitStatus) + " " +
         XmlText(r.exitName) + "\"/>\n";
    x += "    </properties>\n";
    for (const FileReport& f : r.files) {
        x += "    <testcase classname=\"" + suite + "\" name=\"" + XmlText(f.file) + " at " +
             Hex8(f.address) + "\" time=\"" + Fixed(f.transferSeconds + f.verifySeconds) + "\"";
        if (f.outcome == FileOutcome::Verified) {
            x += "/>\n";
            continue;
        }
        x += ">\n";
        if (Failed(f.outcome)) {
            const std::string message = XmlText(MessageLines(f.message));
            x += "      <failure type=\"" + std::string(FileOutcomeName(f.outcome)) +
                 "\" message=\"" + message + "\">" + message + "</failure>\n";
        } else {
            x += "      <skipped message=\"" + std::string(FileOutcomeName(f.outcome)) + "\"/>\n";
        }
        x += "    </testcase>\n";
    }
    if (runCase) {
        x += "    <testcase classname=\"" + suite + "\" name=\"run\" time=\"0.000\">\n";
        const std::string message = XmlText(MessageLines(r.message));
        x += "      <failure type=\"" + XmlText(r.exitName) + "\" message=\"" + message + "\">" +
             message + "</failure>\n";
        x += "    </testcase>\n";
    }
    x += "  </testsuite>\n</testsuites>\n";
    return x;
}

std::string IsoTimeNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&t, &local);
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local); // +0100
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03d%.3s:%s", date, static_cast<int>(ms), zone, zone + 3);
    return out;
}

std::string WriteFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    auto fail = [&](const char* what) {
        const int err = errno;
        ::unlink(temp.c_str());
        return "Unable to write the report " + path + " (" + what + ": " + std::strerror(err) + ")";
    };
    // A link planted under the temporary name must not redirect the write.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail("create");
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            return fail("write");
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0 || !synced) {
        if (!synced) {
            errno = syncError;
        }
        return fail("write");
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        return fail("rename");
    }
    return {};
}

std::string ReportPathRefusal(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        // A free name takes the report; a missing folder is told when the write fails.
        return errno == ENOENT ? std::string()
                               : path + " cannot be checked (" + std::strerror(errno) +
                                     "): a report replaces only a regular file";
    }
    if (S_ISREG(st.st_mode)) {
        return {};
    }
    const char* what = S_ISLNK(st.st_mode)    ? "symbolic link"
                       : S_ISDIR(st.st_mode)  ? "folder"
                       : S_ISFIFO(st.st_mode) ? "FIFO"
                       : S_ISCHR(st.st_mode)  ? "character device"
                       : S_ISBLK(st.st_mode)  ? "block device"
                       : S_ISSOCK(st.st_mode) ? "socket"
                                              : "special file";
    return path + " is a " + what +
           ", not a regular file: left as it is (a report takes a free name or replaces a "
           "regular file)";
}

std::string ClearReportPaths(const std::vector<std::string>& paths) {
    std::string refusals;
    for (const std::string& path : paths) {
        if (path.empty()) {
            continue;
        }
        std::string refusal = ReportPathRefusal(path);
        if (refusal.empty() && ::unlink(path.c_str()) != 0 && errno != ENOENT) {
            refusal =
                "The old report " + path + " cannot be removed (" + std::strerror(errno) + ")";
        }
        if (!refusal.empty()) {
            refusals += refusal + "\n";
        }
    }
    return refusals;
}

std::string WriteReports(const RunReport& report, const std::string& jsonPath,
                         const std::string& junitPath) {
    std::string errors;
    for (const auto& [path, text] :
         {std::pair{&jsonPath, &ReportJson}, std::pair{&junitPath, &ReportJUnit}}) {
        if (path->empty()) {
            continue;
        }
        // Something else may have taken the name during the run.
        const std::string refusal = ReportPathRefusal(*path);
        const std::string error =
            refusal.empty() ? WriteFileAtomically(*path, text(report)) : refusal;
        if (!error.empty()) {
            errors += error + "\n";
        }
    }
    return errors;
}

} // namespace pellwick
