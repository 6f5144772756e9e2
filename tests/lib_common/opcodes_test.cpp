#include "lib_common/opcodes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(OpcodeName, NamesListedCodesAndNothingElse) {
    const struct {
        i16 code;
        const char* name;
    } cases[] = {{8, "OP_OPEN"},      {240, "OP_BUILD"},      {255, "OP_NULL"},
                 {1, "OP_STRCMTCTL"}, {12, "OP_UNKNOWN"},     {90, "OP_UNKNOWN"},
                 {130, "OP_UNKNOWN"}, {0, "OP_UNKNOWN"},      {256, "OP_UNKNOWN"},
                 {-1, "OP_UNKNOWN"},  {-32768, "OP_UNKNOWN"}, {32767, "OP_UNKNOWN"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(OpcodeName(c.code), c.name);
    }
}

TEST(OpcodeName, EveryCodeMatchesTheReferenceList) {
    // The reference: every named opcode, its name and its constant.
    const struct {
        i16 code;
        const char* name;
        i16 constant;
    } listed[] = {
        {1, "OP_STRCMTCTL", OP_STRCMTCTL},
        {2, "OP_ENDCMTCTL", OP_ENDCMTCTL},
        {3, "OP_COMMIT", OP_COMMIT},
        {4, "OP_ROLLBACK", OP_ROLLBACK},
        {5, "OP_CREATEFILE", OP_CREATEFILE},
        {6, "OP_DELETEFILE", OP_DELETEFILE},
        {7, "OP_CANOPEN", OP_CANOPEN},
        {8, "OP_OPEN", OP_OPEN},
        {9, "OP_QUERY", OP_QUERY},
        {10, "OP_CREATEINDEX", OP_CREATEINDEX},
        {11, "OP_CLOSE", OP_CLOSE},
        {13, "OP_SETKEY", OP_SETKEY},
        {14, "OP_SETIDX", OP_SETIDX},
        {15, "OP_RECCOUNT", OP_RECCOUNT},
        {16, "OP_GETCOL", OP_GETCOL},
        {17, "OP_GETKEY", OP_GETKEY},
        {18, "OP_RQSSCAN", OP_RQSSCAN},
        {19, "OP_LOCK", OP_LOCK},
        {20, "OP_UNLOCK", OP_UNLOCK},
        {21, "OP_WRITE", OP_WRITE},
        {22, "OP_UPDATE", OP_UPDATE},
        {23, "OP_DELETE", OP_DELETE},
        {24, "OP_RECALL", OP_RECALL},
        {25, "OP_PACK", OP_PACK},
        {26, "OP_CLEAR", OP_CLEAR},
        {27, "OP_READ", OP_READ},
        {28, "OP_SEEK", OP_SEEK},
        {29, "OP_GO", OP_GO},
        {30, "OP_SKIP", OP_SKIP},
        {31, "OP_FIRST", OP_FIRST},
        {32, "OP_LAST", OP_LAST},
        {33, "OP_FILTER", OP_FILTER},
        {34, "OP_SETFIELDMAP", OP_SETFIELDMAP},
        {35, "OP_BLOBREAD", OP_BLOBREAD},
        {36, "OP_BLOBWRITE", OP_BLOBWRITE},
        {37, "OP_REFRESHFILE", OP_REFRESHFILE},
        {38, "OP_SPEXIST", OP_SPEXIST},
        {39, "OP_CHKFIELDS", OP_CHKFIELDS},
        {40, "OP_SETDUMMY", OP_SETDUMMY},
        {41, "OP_SRVMAP", OP_SRVMAP},
        {42, "OP_INTERNALF", OP_INTERNALF},
        {43, "OP_GETERROR", OP_GETERROR},
        {44, "OP_SETDELEON", OP_SETDELEON},
        {45, "OP_SQLEXEC", OP_SQLEXEC},
        {46, "OP_SPEXEC", OP_SPEXEC},
        {47, "OP_ALTERFILE", OP_ALTERFILE},
        {48, "OP_SETPARAM", OP_SETPARAM},
        {49, "OP_UNIQUE", OP_UNIQUE},
        {50, "OP_SYNC", OP_SYNC},
        {51, "OP_FLOCK", OP_FLOCK},
        {52, "OP_FUNLOCK", OP_FUNLOCK},
        {53, "OP_VLOCK", OP_VLOCK},
        {54, "OP_VUNLOCK", OP_VUNLOCK},
        {55, "OP_NEXTRECNO", OP_NEXTRECNO},
        {56, "OP_SETRECCOUNT", OP_SETRECCOUNT},
        {57, "OP_ISLOCKED", OP_ISLOCKED},
        {58, "OP_QUERYEX", OP_QUERYEX},
        {59, "OP_FETCH", OP_FETCH},
        {60, "OP_PREPARESTMT", OP_PREPARESTMT},
        {61, "OP_BINDPARAM", OP_BINDPARAM},
        {62, "OP_EXECSTMT", OP_EXECSTMT},
        {63, "OP_JUSTCLOSE", OP_JUSTCLOSE},
        {64, "OP_INFO", OP_INFO},
        {65, "OP_ERRORCNT", OP_ERRORCNT},
        {66, "OP_STARTTRACE", OP_STARTTRACE},
        {67, "OP_STOPTRACE", OP_STOPTRACE},
        {68, "OP_TRACECOUNT", OP_TRACECOUNT},
        {69, "OP_GETTRACE", OP_GETTRACE},
        {70, "OP_KILLUSER", OP_KILLUSER},
        {71, "OP_READLOG", OP_READLOG},
        {72, "OP_CLEARLOG", OP_CLEARLOG},
        {73, "OP_READINISTR", OP_READINISTR},
        {74, "OP_WRITEINISTR", OP_WRITEINISTR},
        {77, "OP_DELSECTION", OP_DELSECTION},
        {78, "OP_READINIINT", OP_READINIINT},
        {79, "OP_WRITEINIINT", OP_WRITEINIINT},
        {81, "OP_LOCKINFO", OP_LOCKINFO},
        {82, "OP_SET_CONNECTION_ENABLE", OP_SET_CONNECTION_ENABLE},
        {83, "OP_IS_CONNECTION_ENABLED", OP_IS_CONNECTION_ENABLED},
        {84, "OP_FIELD_COUNT", OP_FIELD_COUNT},
        {85, "OP_PREPAREUNLOAD", OP_PREPAREUNLOAD},
        {86, "OP_GETNATIVEERROR", OP_GETNATIVEERROR},
        {87, "OP_GETSID", OP_GETSID},
        {88, "OP_EXECEMBEDDEDNORETURN", OP_EXECEMBEDDEDNORETURN},
        {89, "OP_FILTEREX", OP_FILTEREX},
        {92, "OP_SQLPREPARE", OP_SQLPREPARE},
        {93, "OP_SQLBIND", OP_SQLBIND},
        {94, "OP_SQLFREE", OP_SQLFREE},
        {95, "OP_GETDBSID", OP_GETDBSID},
        {96, "OP_WRITEAUDIT", OP_WRITEAUDIT},
        {97, "OP_AUDITSTATS", OP_AUDITSTATS},
        {98, "OP_AUDITGETCFG", OP_AUDITGETCFG},
        {99, "OP_AUDITSETCFG", OP_AUDITSETCFG},
        {100, "OP_AUDITUSER", OP_AUDITUSER},
        {112, "OP_FINDTABLE", OP_FINDTABLE},
        {113, "OP_ADDTABLE", OP_ADDTABLE},
        {114, "OP_ISEXCLUSIVE", OP_ISEXCLUSIVE},
        {115, "OP_SETEXCLUSIVE", OP_SETEXCLUSIVE},
        {116, "OP_ADDUSER", OP_ADDUSER},
        {117, "OP_DELUSER", OP_DELUSER},
        {118, "OP_ADDINDEX", OP_ADDINDEX},
        {119, "OP_RESETINDEX", OP_RESETINDEX},
        {120, "OP_RELEASE", OP_RELEASE},
        {121, "OP_GETLASTREC", OP_GETLASTREC},
        {122, "OP_SETOPEN", OP_SETOPEN},
        {123, "OP_SETCLOSE", OP_SETCLOSE},
        {124, "OP_SETOWNERINFO", OP_SETOWNERINFO},
        {128, "OP_GETDIAGINFO", OP_GETDIAGINFO},
        {129, "OP_GETDIAGLOG", OP_GETDIAGLOG},
        {144, "OP_IDLE", OP_IDLE},
        {145, "OP_NETROP", OP_NETROP},
        {146, "OP_NETSOP", OP_NETSOP},
        {147, "OP_CONNSETUP", OP_CONNSETUP},
        {240, "OP_BUILD", OP_BUILD},
        {254, "OP_DISCONNECT", OP_DISCONNECT},
        {255, "OP_NULL", OP_NULL},
    };
    std::map<int, std::string> names;
    for (const auto& op : listed) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.constant, op.code);
        names[op.code] = op.name;
    }
    ASSERT_EQ(names.size(), 116u);
    for (int code = -300; code <= 300; ++code) {
        SCOPED_TRACE(code);
        const auto found = names.find(code);
        EXPECT_STREQ(OpcodeName(static_cast<i16>(code)),
                     found == names.end() ? "OP_UNKNOWN" : found->second.c_str());
    }
}

}  // namespace
