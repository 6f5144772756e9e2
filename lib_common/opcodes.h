// The operation codes that open every request frame, shared by the server and the client
// library, and their names for traces, the operation log and the exception report.
#pragma once
#include "lib_base/types.h"

// Every named code, in order: X(name, number).
#define GM_OPCODES(X)               \
    X(OP_STRCMTCTL, 1)              \
    X(OP_ENDCMTCTL, 2)              \
    X(OP_COMMIT, 3)                 \
    X(OP_ROLLBACK, 4)               \
    X(OP_CREATEFILE, 5)             \
    X(OP_DELETEFILE, 6)             \
    X(OP_CANOPEN, 7)                \
    X(OP_OPEN, 8)                   \
    X(OP_QUERY, 9)                  \
    X(OP_CREATEINDEX, 10)           \
    X(OP_CLOSE, 11)                 \
    X(OP_SETKEY, 13)                \
    X(OP_SETIDX, 14)                \
    X(OP_RECCOUNT, 15)              \
    X(OP_GETCOL, 16)                \
    X(OP_GETKEY, 17)                \
    X(OP_RQSSCAN, 18)               \
    X(OP_LOCK, 19)                  \
    X(OP_UNLOCK, 20)                \
    X(OP_WRITE, 21)                 \
    X(OP_UPDATE, 22)                \
    X(OP_DELETE, 23)                \
    X(OP_RECALL, 24)                \
    X(OP_PACK, 25)                  \
    X(OP_CLEAR, 26)                 \
    X(OP_READ, 27)                  \
    X(OP_SEEK, 28)                  \
    X(OP_GO, 29)                    \
    X(OP_SKIP, 30)                  \
    X(OP_FIRST, 31)                 \
    X(OP_LAST, 32)                  \
    X(OP_FILTER, 33)                \
    X(OP_SETFIELDMAP, 34)           \
    X(OP_BLOBREAD, 35)              \
    X(OP_BLOBWRITE, 36)             \
    X(OP_REFRESHFILE, 37)           \
    X(OP_SPEXIST, 38)               \
    X(OP_CHKFIELDS, 39)             \
    X(OP_SETDUMMY, 40)              \
    X(OP_SRVMAP, 41)                \
    X(OP_INTERNALF, 42)             \
    X(OP_GETERROR, 43)              \
    X(OP_SETDELEON, 44)             \
    X(OP_SQLEXEC, 45)               \
    X(OP_SPEXEC, 46)                \
    X(OP_ALTERFILE, 47)             \
    X(OP_SETPARAM, 48)              \
    X(OP_UNIQUE, 49)                \
    X(OP_SYNC, 50)                  \
    X(OP_FLOCK, 51)                 \
    X(OP_FUNLOCK, 52)               \
    X(OP_VLOCK, 53)                 \
    X(OP_VUNLOCK, 54)               \
    X(OP_NEXTRECNO, 55)             \
    X(OP_SETRECCOUNT, 56)           \
    X(OP_ISLOCKED, 57)              \
    X(OP_QUERYEX, 58)               \
    X(OP_FETCH, 59)                 \
    X(OP_PREPARESTMT, 60)           \
    X(OP_BINDPARAM, 61)             \
    X(OP_EXECSTMT, 62)              \
    X(OP_JUSTCLOSE, 63)             \
    X(OP_INFO, 64)                  \
    X(OP_ERRORCNT, 65)              \
    X(OP_STARTTRACE, 66)            \
    X(OP_STOPTRACE, 67)             \
    X(OP_TRACECOUNT, 68)            \
    X(OP_GETTRACE, 69)              \
    X(OP_KILLUSER, 70)              \
    X(OP_READLOG, 71)               \
    X(OP_CLEARLOG, 72)              \
    X(OP_READINISTR, 73)            \
    X(OP_WRITEINISTR, 74)           \
    X(OP_DELSECTION, 77)            \
    X(OP_READINIINT, 78)            \
    X(OP_WRITEINIINT, 79)           \
    X(OP_LOCKINFO, 81)              \
    X(OP_SET_CONNECTION_ENABLE, 82) \
    X(OP_IS_CONNECTION_ENABLED, 83) \
    X(OP_FIELD_COUNT, 84)           \
    X(OP_PREPAREUNLOAD, 85)         \
    X(OP_GETNATIVEERROR, 86)        \
    X(OP_GETSID, 87)                \
    X(OP_EXECEMBEDDEDNORETURN, 88)  \
    X(OP_FILTEREX, 89)              \
    X(OP_SQLPREPARE, 92)            \
    X(OP_SQLBIND, 93)               \
    X(OP_SQLFREE, 94)               \
    X(OP_GETDBSID, 95)              \
    X(OP_WRITEAUDIT, 96)            \
    X(OP_AUDITSTATS, 97)            \
    X(OP_AUDITGETCFG, 98)           \
    X(OP_AUDITSETCFG, 99)           \
    X(OP_AUDITUSER, 100)            \
    X(OP_FINDTABLE, 112)            \
    X(OP_ADDTABLE, 113)             \
    X(OP_ISEXCLUSIVE, 114)          \
    X(OP_SETEXCLUSIVE, 115)         \
    X(OP_ADDUSER, 116)              \
    X(OP_DELUSER, 117)              \
    X(OP_ADDINDEX, 118)             \
    X(OP_RESETINDEX, 119)           \
    X(OP_RELEASE, 120)              \
    X(OP_GETLASTREC, 121)           \
    X(OP_SETOPEN, 122)              \
    X(OP_SETCLOSE, 123)             \
    X(OP_SETOWNERINFO, 124)         \
    X(OP_GETDIAGINFO, 128)          \
    X(OP_GETDIAGLOG, 129)           \
    X(OP_IDLE, 144)                 \
    X(OP_NETROP, 145)               \
    X(OP_NETSOP, 146)               \
    X(OP_CONNSETUP, 147)            \
    X(OP_BUILD, 240)                \
    X(OP_DISCONNECT, 254)           \
    X(OP_NULL, 255)

#define GM_DECLARE_OPCODE(name, code) constexpr i16 name = code;
GM_OPCODES(GM_DECLARE_OPCODE)
#undef GM_DECLARE_OPCODE

// Monitor requests that have no entry in the name table: OpcodeName gives "OP_UNKNOWN" for them.
constexpr i16 OP_DIAGMISCINFO = 130;
constexpr i16 OP_GETINIFILE = 131;
constexpr i16 OP_SETINIFILE = 132;

// The name of a code, "OP_UNKNOWN" for a code below 1, above 255 or without a name. Constant
// text; needs no lock.
const char* OpcodeName(i16 code);
