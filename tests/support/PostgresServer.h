// A private PostgreSQL server for tests: Debian's binaries, a cluster in a temporary folder,
// listening on 127.0.0.1 at a free port with trust authentication, stopped (and its folder
// removed) on destruction. As root it runs as the system user postgres, since the server
// refuses root. It dies with the test process, so a crashed test leaves no server behind.
#pragma once

#include "support/TempFolder.h"

#include <string>
#include <sys/types.h>

namespace pellwick {

class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // False where this machine has no PostgreSQL server binaries: a reason to skip.
    bool Installed() const { return installed_; }
    // The server accepts connections; otherwise Why() says what went wrong.
    bool Running() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    int Port() const { return port_; }
    // The address of a database on it (the superuser pellwick, no password).
    std::string Address(const std::string& database) const;

private:
    bool Start();

    TempFolder folder_;
    bool installed_ = false;
    std::string bin_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string why_;
};

} // namespace pellwick
