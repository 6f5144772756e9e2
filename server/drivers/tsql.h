// What the Transact-SQL servers (SQL Server and Sybase) share over ODBC: the pool of child
// connections that serve query files, the query file run on a child, the clustered record-number
// key, the index space, DROP INDEX, the owner "dbo.", the duplicate-key errors, the column types
// and defaults of their DDL, and the checks of the names an alteration puts into SQL.
#pragma once
#include <memory>

#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/odbc.h"

class tActionField;
class tIndexDefinition;
class tTableDefinition;

// The leading decimal number of text (a version: "12.5.4" gives 12); false when text does not
// begin with a digit.
bool ReadLeadingNumber(const char* text, i16& number);

// The base of the Transact-SQL connections. A main connection owns a pool of idle children, and
// its own list (the tArray base) holds the children that serve open query files; a child shares
// its parent's pool and never deletes it.
// Threads: used by its session's thread only; the busy-child list is changed under the
// connection's write lock, the pool's list under the pool's.
class tTSQLConnection : public tODBCConnection {
public:
    ~tTSQLConnection() override;  // a main connection deletes its pool and the idle children

    // ---- Operations of tDBConnection.
    bool AddPrimaryKey(tString& sql, const char* table) override;  // the text; true
    void GetRecnoIndex(const char* table, tString& sql) override;  // AddPrimaryKey's text
    const char* GetOwner() override;                               // "dbo."
    void ReleaseChild(tDBConnection* child) override;              // back to the pool
    bool IsDuplicateKey(i32 native) override { return native == 2601 || native == 2627; }
    void DropIndex(tString& sql, const char* table, const char* index) override;
    void IndexSpaceClause(tString& sql, u8 flag) override;  // " ON [<IndexSpace>]" when set

    // ---- The child connections of query files.
    // The first idle child of the pool, or a new one of this session, connected; null (the new
    // child deleted) when it cannot connect.
    std::unique_ptr<tTSQLConnection> TakeChild();
    // Lists a child that now serves a query file; the file's close gives it back by ReleaseChild.
    void AddBusyChild(tTSQLConnection* child);
    tConnectionPool* GetPool() const { return pool; }

    // ---- DDL pieces; each appends to out.
    // The column type of a field letter: VARCHAR(<length>) for A, C, D and L, FLOAT for the
    // numbers, INT for R, memoType for M, nothing for any other letter.
    static void ColumnType(tString& out, u8 letter, i32 length, const char* memoType);
    // " DEFAULT <blanks, 'F' or 0>" by the letter; nothing for M and unknown letters.
    static void DefaultClause(tString& out, u8 letter, i32 length);
    // " ON <TableSpace>" when the key is set.
    void AppendTableSpace(tString& sql);

    // The field a syscolumns type code and length become: image and varbinary M 10, varchar C
    // at its length, the integer types and float N 15,6; with longText, text and varchar(max)
    // M 11. Letter 'X' (length 0) for any other type.
    struct tColumnMap {
        u8 letter;
        i16 length;
        u16 decimals;
    };
    static tColumnMap MapColumnType(int type, f64 length, bool longText);

protected:
    // A main connection over the loader (not owned; it must outlive the connection and every
    // child), with a pool of its own.
    tTSQLConnection(const char* dbType, const tString& alias, const tString& user,
                    const tString& password, tODBCLibrary& library);
    // A child of the database type: the parent's data source, login, loader and pool. Not
    // connected.
    tTSQLConnection(const char* dbType, const tTSQLConnection& parent);

    // A new child of this connection, not connected; owned by the caller.
    virtual tTSQLConnection* NewChild() = 0;
    // The statement that keys the backup copy of a rebuild by its record numbers.
    virtual void BackupKey(tString& sql, const char* backup) = 0;
    std::unique_ptr<tODBCStatement> Statement();
    // Runs the query on a child, which the file returned holds until ReleaseChild; null when it
    // cannot run, with the child's error (or -19 for a result without columns) as this
    // connection's last error. A pooled child that has lost its session is deleted.
    tQueryFile* QueryOnChild(tCommBuffer& reply, u32 lockOwner, tString& query,
                             const char* routine);
    // False, with -19 and the reason under routine, when the table or an entry's name is no
    // identifier; nothing has run then.
    bool CheckAlterNames(const char* table, tArray<tActionField>& actions, const char* routine);
    // ---- The rebuild through <table>_BKP.
    // Up to the new empty table: an existing backup dropped (unless the backup guard keeps it),
    // the copy made and keyed in the index space, the table dropped and created anew from the
    // actions. False at the first failure, whose error is the last error.
    bool RebuildEmpty(tODBCStatement& stmt, const char* table, tArray<tActionField>& actions,
                      u8 hasRecDel, const char* routine);
    // Writes what a column whose type changes is copied back as.
    using tConvertWriter = void (*)(tString& out, const tActionField& column);
    // The INSERT ... select ... from <table>_BKP that copies back the columns that stay and keep
    // their type or become characters (converted by convert); empty when none is copied.
    static tString CopyBackInsert(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                                  tConvertWriter convert);
    // The session-parameter table GML_PARAM, then (only when it was made) its index GML_PARAM1
    // by indexSql; whether both ran.
    bool CreateParamTable(const char* indexSql, const char* routine);
    // SET ROWCOUNT under routine, sent only when the count changes; the count is kept even when
    // the statement fails.
    bool SendRowCount(i16 rows, const char* routine);

    // Adds a finished index to def; false, adding nothing, when its key is R_E_C_N_O_ alone
    // (the record-number index). An index without key fields is dropped.
    static bool CloseIndex(tTableDefinition& def, std::unique_ptr<tIndexDefinition> index);

    // Constant after construction.
    tODBCLibrary& library;  // the process's loader or the caller's

private:
    std::unique_ptr<tConnectionPool> ownPool;  // a main connection's pool; null in a child
    tConnectionPool* pool;                     // ownPool, or the parent's for a child
};
