// What the benchmarks on the private databases share: the process services they install, the
// servers' settings read from the db tests' db.env, and the ratio report (benchratio.h).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench/benchratio.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace gmbench {

// The process services with ODBC 3 chosen and every other key at its default.
class tBenchProcess : public tDBProcess {
public:
    explicit tBenchProcess(const std::string& iniPath) : config(iniPath.c_str()) {}
    tConfigCache& GetConfig() override { return config; }
    bool GetLogFull() override { return false; }
    tTableCache& GetTableCache() override { return tableCache; }
    bool GetThreadInfo() override { return false; }
    bool IsIndexTraceChanged() override { return false; }

private:
    tConfigCache config;
    tTableCache tableCache;
};

// Reads "export NAME='value'" lines into the environment; the values by name.
inline std::map<std::string, std::string> LoadDbEnv(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 7, "export ") != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
        const std::string name = line.substr(7, eq - 7);
        setenv(name.c_str(), value.c_str(), 1);
        values[name] = value;
    }
    return values;
}

// Where the private servers' settings are: GM_TESTDB_ENV, else the build's db.env.
inline std::string DbEnvPath() {
    const char* given = std::getenv("GM_TESTDB_ENV");
    return given && *given ? given : GM_TESTDB_ENV;
}

// Reads the private servers' settings into the environment; the settings, or none after a
// message when they name no private PostgreSQL.
inline std::map<std::string, std::string> ReadPostgresEnv() {
    const std::string envPath = DbEnvPath();
    std::map<std::string, std::string> env = LoadDbEnv(envPath);
    if (!env.count("GM_PG_USER")) {
        std::fprintf(stderr,
                     "%s names no private PostgreSQL: start it with "
                     "scripts/privatedb.sh start <dir> pg\n",
                     envPath.c_str());
        return {};
    }
    return env;
}

// ReadPostgresEnv, then the process services installed, the log beside db.env.
inline std::map<std::string, std::string> StartPostgresBench() {
    std::map<std::string, std::string> env = ReadPostgresEnv();
    if (env.empty()) return env;
    const std::string envPath = DbEnvPath();
    SetLogPath((envPath + ".bench.log").c_str());  // notices of the set-up land here
    const std::string ini = envPath + ".bench.ini";
    std::ofstream(ini) << "[General]\nODBC30=1\n";
    SetDBProcess(new tBenchProcess(ini));  // lives as long as the process
    return env;
}

}  // namespace gmbench
