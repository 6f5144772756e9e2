// Loads db.env into the process environment before the first test of a db test program, and
// fails the program when the private servers' settings are missing.
#include "tests/support_db/db_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>

namespace gmtest {
namespace {

struct tLoadedEnv {
    DbSettings settings;
    std::string error;  // empty when every value was found
};

const char* EnvFilePath() {
    const char* path = std::getenv("GM_TESTDB_ENV");
    return path && *path ? path : GM_TESTDB_ENV;
}

// Reads lines "export NAME='value'"; comments and blank lines are skipped.
std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::string prefix = "export ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
            value = value.substr(1, value.size() - 2);
        }
        values[line.substr(prefix.size(), eq - prefix.size())] = value;
    }
    return values;
}

tLoadedEnv Load() {
    tLoadedEnv loaded;
    const std::string path = EnvFilePath();
    const std::map<std::string, std::string> values = ReadEnvFile(path);
    DbSettings& s = loaded.settings;
    const struct {
        const char* name;
        std::string* field;  // null: only exported
    } wanted[] = {{"ODBCSYSINI", nullptr},
                  {"ODBCINI", nullptr},
                  {"GM_PG_PORT", &s.pgPort},
                  {"GM_PG_USER", &s.pgUser},
                  {"GM_PG_PASSWORD", &s.pgPassword},
                  {"GM_PG_DB", &s.pgDb},
                  {"GM_PG_NOSUPER_USER", &s.pgNoSuperUser},
                  {"GM_PG_NOSUPER_PASSWORD", &s.pgNoSuperPassword},
                  {"GM_MARIA_PORT", &s.mariaPort},
                  {"GM_MARIA_USER", &s.mariaUser},
                  {"GM_MARIA_PASSWORD", &s.mariaPassword},
                  {"GM_MARIA_DB", &s.mariaDb}};
    for (const auto& w : wanted) {
        const auto it = values.find(w.name);
        if (it == values.end() || it->second.empty()) {
            loaded.error += std::string(w.name) + " ";
            continue;
        }
        setenv(w.name, it->second.c_str(), 1);
        if (w.field) *w.field = it->second;
    }
    if (!loaded.error.empty()) {
        loaded.error = path + " lacks " + loaded.error +
                       "(are the private servers running? scripts/privatedb.sh start <dir>)";
    }
    return loaded;
}

const tLoadedEnv& Loaded() {
    static std::once_flag once;
    static tLoadedEnv loaded;
    std::call_once(once, [] { loaded = Load(); });
    return loaded;
}

// Registered for every db test program, so that the environment is set before the first test.
// A failure here is not fatal: the tests still run and fail on their own, never skip.
class tDbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const tLoadedEnv& loaded = Loaded();
        if (!loaded.error.empty()) ADD_FAILURE() << loaded.error;
    }
};

::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new tDbEnvironment);

}  // namespace

const DbSettings& DbEnv() {
    const tLoadedEnv& loaded = Loaded();
    if (!loaded.error.empty()) ADD_FAILURE() << loaded.error;
    return loaded.settings;
}

}  // namespace gmtest
