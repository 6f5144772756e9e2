// Setting a table file's filters: the plain filter with its KEYFLD order, the extended levels,
// and the custom order that a KEYFLD list makes. Client texts are translated into SQL conditions
// by the filter engine; a text starting with "@" is taken as SQL as written.
#include <cstring>
#include <memory>
#include <vector>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/retcodes.h"
#include "server/filter/filterengine.h"
#include "server/isam/dbconn.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kFilterRoutine = "tISAMFile::SetFilter";
constexpr const char* kFilterExRoutine = "tISAMFile::SetFilterEx";
constexpr const char* kKeyFieldsClause = "KEYFLD(";
// A KEYFLD name is read into a buffer of this many bytes; a longer one counts as unknown.
constexpr size_t kOrderNameBuffer = 30;

// Cuts the KEYFLD clause off a filter text in place: the condition ends before it, and its
// blank-separated names become a comma-separated list. The list, or null without a clause.
char* CutKeyFields(char* text) {
    if (text[0] == '\0') return nullptr;
    char* clause = std::strstr(text, kKeyFieldsClause);
    if (!clause) return nullptr;
    if (clause != text) clause[-1] = '\0';
    char* list = clause + std::strlen(kKeyFieldsClause);
    char* c = list;
    for (; *c && *c != ')'; ++c) {
        const char before = c == list ? '(' : c[-1];
        if (*c == ' ' && before != ' ' && before != ',' && before != '(' && c[1] != ')') *c = ',';
    }
    *c = '\0';
    return list;
}

bool IsNameEnd(char c) { return c == '\0' || c == ' ' || c == ','; }

}  // namespace

bool tISAMFile::TranslateFilter(char* text, tString& condition) {
    tFilterEngine engine(*this, text);
    engine.Translate(condition);
    return engine.IsTranslated();
}

// Replaces, adds or removes the condition of a level: nothing happens when it is unchanged.
void tISAMFile::ReplaceFilter(i16 level, const tString& condition) {
    const i32 at = FindFilter(level);
    const tString old = at >= 0 ? filterList.Get(at)->text : tString();
    if (condition == old.GetText()) return;
    filterChanged = true;
    if (at < 0) {
        filterList.Add(new tFilterNode(level, condition));
    } else if (condition.GetLength() > 0) {
        filterList.Get(at)->text = condition;
    } else {
        std::unique_ptr<tFilterNode> removed(filterList.Get(at));
        filterList.Delete(at);
    }
}

bool tISAMFile::SetFilter(const char* expression, bool& translated) {
    // The KEYFLD cut and the translation write into the text: they get a private copy.
    std::vector<char> text(expression, expression + std::strlen(expression) + 1);
    const char* keyList = CutKeyFields(text.data());
    tString condition;
    if (text[0] == '@') {
        condition = text.data() + 1;
    } else if (text[0] != '\0' && !TranslateFilter(text.data(), condition)) {
        translated = false;
        if (DBProcess().GetConfig().GetBool("General", "WarningFilter", 0)) {
            // The client's text from its ninth character, as far as the translation read it.
            const size_t length = std::strlen(text.data());
            tString message("[WARNING] Filter expression not fully translated.\nFilter [");
            message += length > 8 ? text.data() + 8 : "";
            message += "] replaced as [";
            message += condition;
            connection->SetError(RC_FAILED, kFilterRoutine, message, this);
        }
    }
    ReplaceFilter(0, condition);
    if (keyList) {
        SetOrderBy(keyList, nullptr);
        if (order == 0) {
            SetOrder(0);
            cache->Reset(false);
        }
    } else {
        ClearOrderBy();
    }
    // The file stays on its record when it can still be read; the record is not tested against
    // the new condition. Otherwise the next skip starts from the top.
    const f64 recno = GetRecno();
    if (recno == 0 || !GoTo(recno, false)) needFirst = true;
    if (needFirst) eof = true;
    return !needFirst;
}

i16 tISAMFile::SetFilterEx(i16 level, const char* expression, tString& translated) {
    const char* refusal = nullptr;
    if (expression[0] != '\0' && std::strstr(expression, kKeyFieldsClause)) {
        refusal = "Unsupported Key field in FilterEX.";
    } else if (expression[0] == '@') {
        refusal = "Invalid use of SQL expression in FilterEX.";
    } else if (level == 0) {
        refusal = "Invalid level in FilterEX.";
    }
    if (refusal) {
        connection->SetError(RC_FAILED, kFilterExRoutine, refusal, this);
        return RC_FAILED;
    }
    tString condition;
    if (expression[0] != '\0') {
        std::vector<char> text(expression, expression + std::strlen(expression) + 1);
        if (!TranslateFilter(text.data(), condition)) {
            tString message("[ERROR] Filter Extended Error.\nExpression [");
            message += expression;
            message += "]";
            connection->SetError(RC_FAILED, kFilterExRoutine, message, this);
            return RC_FAILED;
        }
        translated += condition;
    }
    ReplaceFilter(level, condition);
    return RC_OK;
}

void tISAMFile::SetOrderBy(const char* list, const char* marker) {
    const char* at = list;
    if (marker) {
        at = std::strstr(list, marker);
        if (!at) return;
        at += std::strlen(marker);
    }
    while (*at == ' ') ++at;
    tString name("__");
    name += GetTableName();
    name += "__";
    filterIndex = std::make_unique<tIndexDefinition>(name, false);
    while (*at) {
        const char* end = at;
        while (!IsNameEnd(*end)) ++end;
        const size_t length = static_cast<size_t>(end - at);
        const std::string field(at, length);
        for (at = end; *at == ' ' || *at == ','; ++at) {
        }
        const i16 fieldNo = length < kOrderNameBuffer ? mirror->GetFieldNo(field.c_str()) : -1;
        if (fieldNo < 0) {
            BasePrintf("[WARNING] Invalid Field in SetOrderBy Expression [%s]\n", list);
            break;
        }
        filterIndex->AddField(fieldNo);
    }
    filterIndex->AddField(mirror->GetFieldNo(kRecnoColumn));
    connection->TraceIndex(*mirror, *filterIndex);
    cache->ForgetOrder();
}

void tISAMFile::ClearOrderBy() {
    if (!filterIndex) return;
    filterIndex.reset();
    cache->ForgetOrder();
}
