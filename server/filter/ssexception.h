// Errors of the lexer and parser runtime: numbered messages ("SSLex0105e: ..."), thrown as
// SSException, the process-wide switches that decide whether an error throws, is stored in the
// object that raised it or is dropped, and the runtime's one allocation routine.
#pragma once
#include <exception>
#include <memory>
#include <new>

#include "lib_base/types.h"

// Message ids of the runtime, each with its text below.
enum SSMessageId : i32 {
    kSSOutOfStorage = -1,
    kSSLexOpenFile = 1,
    kSSLexReadFile = 2,
    kSSLexLexemeTooLong = 3,
    kSSLexInvalidTable = 4,
    kSSLexInvalidToken = 5,
    kSSLexListIndex = 6,
    kSSLexMissing = 7,
    kSSLifoFull = 8,
    kSSLifoNoTop = 9,
    kSSLifoPopEmpty = 10,
    kSSLifoIndex = 11,
    kSSYaccOpenFile = 12,
    kSSYaccParseFailed = 13,
    kSSYaccReadPastEof = 14,
    kSSYaccPanicFailed = 15,
    kSSYaccErrorTokenFailed = 16,
    kSSYaccErrorTokenEof = 17,
    kSSYaccInvalidGoto = 18,
    kSSYaccElementIndex = 19,
    kSSYaccTableMissing = 20,
    kSSYaccLexMissing = 21,
    kSSYaccReadTable = 22,
    kSSSetFull = 23,
    kSSYaccTableTooBig = 26,
    kSSRefBelowZero = 28,
    kSSYaccInvalidState = 35,
    kSSLexResource = 36,
    kSSYaccResource = 37,
    kSSLexKeywordTable = 43,
    kSSLexKeywordIndex = 44,
    kSSYaccNoSubtree = 45,
    kSSMessageTooLong = 46,
    kSSLexGetList = 47,
    kSSLexArrayShort = 48,
    kSSLexIncrement = 49,
    kSSLexDBCS = 50,
};

// Message formats, printf style.
constexpr const char* kSSOutOfStorageMsg = "SSException0001e: Out of storage";
constexpr const char* kSSMessageTooLongMsg = "SSException0002e: sprintf msg too long";
constexpr const char* kSSLexOpenFileMsg = "SSLex0101e: Error opening file, %s, %ld";
constexpr const char* kSSLexReadFileMsg = "SSLex0102e: Invalid file length or read error, %s, %ld";
constexpr const char* kSSLexLexemeTooLongMsg = "SSLex0103e: Lexeme too long, %ld";
constexpr const char* kSSLexInvalidTableMsg = "SSLex0104e: Invalid table, %s";
constexpr const char* kSSLexInvalidTokenMsg = "SSLex0105e: Invalid token, Line %ld, Offset %ld, %s";
constexpr const char* kSSLexListIndexMsg = "SSLex0106e: Invalid expression list index, %ld";
constexpr const char* kSSLexMissingMsg = "SSLex0107e: Table or consumer missing, required";
constexpr const char* kSSLexResourceMsg = "SSLex0108e: Resource not found, %s";
constexpr const char* kSSLexKeywordTableMsg = "SSLex0109e: Unable to read keyword table, %s";
constexpr const char* kSSLexKeywordIndexMsg = "SSLex0110e: Invalid keyword index, %ld";
constexpr const char* kSSLexGetListMsg = "SSLex0111e: getExpressionList failed";
constexpr const char* kSSLexArrayShortMsg = "SSLex0112e: Array too short for this add";
constexpr const char* kSSLexIncrementMsg = "SSLex0113e: Increment too small, must be at least 512";
constexpr const char* kSSLexDBCSMsg = "SSLex0114e: Invalid DBCS byte, second byte missing";
constexpr const char* kSSRefBelowZeroMsg = "SSRef0001e: Reference count less than zero";
constexpr const char* kSSLifoFullMsg = "SSLifo0001e: Stack full";
constexpr const char* kSSLifoNoTopMsg = "SSLifo0002e: No top, stack empty";
constexpr const char* kSSLifoIndexMsg = "SSLifo0003e: Invalid index";
constexpr const char* kSSLifoPopEmptyMsg = "SSLifo0004e: Cannot pop empty stack";
constexpr const char* kSSSetFullMsg = "SSSetArray0001e: Set full";
constexpr const char* kSSYaccOpenFileMsg = "SSYacc0101e: Open file failed, %s";
constexpr const char* kSSYaccParseFailedMsg = "SSYacc0102e: Parse failed, invalid table";
constexpr const char* kSSYaccReadPastEofMsg = "SSYacc0103e: Attempted read past eof";
constexpr const char* kSSYaccPanicFailedMsg = "SSYacc0104e: Error panic failed, no valid token";
constexpr const char* kSSYaccErrorTokenFailedMsg =
    "SSYacc0105e: Error token failed, no valid token";
constexpr const char* kSSYaccErrorTokenEofMsg = "SSYacc0106e: Error token failed, eof";
constexpr const char* kSSYaccInvalidGotoMsg = "SSYacc0107e: Invalid goto on %ld";
constexpr const char* kSSYaccElementIndexMsg =
    "SSYacc0108e: Invalid index on elementFromProduction, %ld";
constexpr const char* kSSYaccTableMissingMsg = "SSYacc0109e: setTable missing, required";
constexpr const char* kSSYaccLexMissingMsg = "SSYacc0110e: setLex missing, required";
constexpr const char* kSSYaccReadTableMsg = "SSYacc0111e: Error reading table, %s";
constexpr const char* kSSYaccTableTooBigMsg = "SSYacc0112e: Table too big";
constexpr const char* kSSYaccInvalidStateMsg = "SSYacc0114e: Invalid state specified, %ld";
constexpr const char* kSSYaccResourceMsg = "SSYacc0115e: Resource not found, %s";
constexpr const char* kSSYaccNoSubtreeMsg = "SSYacc0116e: No Subtree, or subtree index too large";

// One error of the runtime: its id and its text, cut at 127 characters.
class SSException : public std::exception {
public:
    SSException(i32 id, const char* text);
    i32 errorId() const { return id; }
    const char* what() const noexcept override { return text; }

private:
    static constexpr size_t kTextMax = 127;
    i32 id;
    char text[kTextMax + 1];
};

// What an error call does, for the whole process: with raiseErrors off it does nothing; with
// storeErrors on it keeps the error in the object that raised it; otherwise it throws. Made on
// first use with raising on and storing off; set before lexers run, read afterwards.
struct SSExceptionControl {
    bool raiseErrors = true;
    bool storeErrors = false;
};
SSExceptionControl& ssExceptionControl();

// Base of every runtime class: raises its errors through the process-wide control, and holds
// the last error when they are stored instead of thrown.
class SSExceptionPresent {
public:
    SSExceptionPresent() = default;
    SSExceptionPresent(const SSExceptionPresent&) {}  // a copy starts without a stored error
    SSExceptionPresent& operator=(const SSExceptionPresent&) { return *this; }
    virtual ~SSExceptionPresent() = default;

    // The last stored error, or null; owned by this object.
    const SSException* storedError() const { return stored.get(); }
    void clearError() { stored.reset(); }

protected:
    // Formats the message (a result of 512 characters or more becomes "SSException0002e")
    // and throws, stores or drops it. Returns only when the error was not thrown.
    void ssError(i32 id, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
    std::unique_ptr<SSException> stored;
};

// The runtime's allocation: new T[count], throwing "SSException0001e: Out of storage" (id -1)
// when memory is exhausted.
template <class T>
std::unique_ptr<T[]> ssNewArray(size_t count) {
    T* items = new (std::nothrow) T[count];
    if (!items) throw SSException(kSSOutOfStorage, kSSOutOfStorageMsg);
    return std::unique_ptr<T[]>(items);
}
