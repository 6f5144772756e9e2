// What the recording OCI library's files share: the script (results, failures, procedures), the
// call log, and the values and binds both call sets read and write. Everything is guarded by
// recoci::lock, which each entry point takes once; the helpers here expect it held.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace recoci {

struct tValue {
    bool isNull = true;
    std::string bytes;
};
struct tColumn {
    std::string name;
    int type = 1;
    int size = 0;
};
struct tResult {
    std::string pattern;
    std::vector<tColumn> columns;
    std::vector<std::vector<tValue>> rows;
};
// kDefaultAnswer: an OCI 7 call answers the code, an OCI 8 call -1 (error).
constexpr int kDefaultAnswer = -1000;
struct tFailure {
    std::string target;  // an entry point's name or a pattern of SQL texts
    int code = 0;        // the Oracle error number, 0 for none
    int answer = kDefaultAnswer;
};
struct tArgument {
    std::string name;
    int type = 0;
    int mode = 0;
};
struct tBind {
    const void* value = nullptr;
    int length = 0;
    int type = 0;
};

extern std::mutex lock;
extern std::deque<tResult> results;
extern std::map<int, std::string> errorTexts;
extern std::map<std::string, std::vector<tArgument>> procedures;

// Appends "call(args)=result" to the log (and to the log file when one is named); returns result.
int Record(const std::string& call, const std::string& args, int result);
// The scripted failure for the entry point or the SQL text, used once; false when none.
bool TakeFailure(const std::string& call, const std::string* sql, tFailure& failure);
// The first scripted result whose pattern matches the SQL text, used once; an empty one when none.
tResult TakeResult(const std::string& sql);
// The first scripted result whose pattern matches, used once, into result; false when none.
bool TakeNextResult(const std::string& sql, tResult& result);
bool Matches(const std::string& pattern, const std::string& sql);
// The text of a length-counted or, with a negative length, zero-terminated argument.
std::string Text(const char* text, int length);
// "ORA-%05d: " and the scripted text of the code ("message %d not found" without one).
std::string ErrorText(int code);
// A bound value as the execution's log line shows it.
std::string BindText(const tBind& bind);
std::string JoinBinds(const std::map<int, tBind>& binds);

}  // namespace recoci

// The entry points keep the driver's signatures (server/drivers/oci_api.h) and are the exports.
#define GM_RECOCI_EXPORT __attribute__((visibility("default")))
