// The Oracle table file: key cursors with optimizer hints and early stops, its own first and last
// block loads through row_number(), key bounds with sentinels, inserts and updates that bind
// their values from the record buffer, and the filter hooks in Oracle's SQL.
#pragma once
#include <memory>

#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/drivers/oracle.h"
#include "server/isam/gatemill.h"

// A table of an Oracle connection opened as an ISAM file. The hint settings are fixed at
// construction. Made by tOracleConnection::NewISAMFile; its session's thread only.
class tOracleISAMFile : public tISAMFile {
public:
    // Hint mode: no hint, the first-rows hint, or the cursor limited by rownum.
    static constexpr i32 kNoHint = 0;
    static constexpr i32 kFirstRowsHint = 1;
    static constexpr i32 kRownumLimit = 2;

    // Sets the connection's row count to a key cursor's and resolves the hint settings: the
    // connection's, then the alias's keys "usehint" and "indexhint", then the table's key in the
    // alias's "_USEHINT" and "_INDEXHINT" sections. With the OCI 7 layer the connection's
    // prepared record fetches are switched off, with a console warning.
    tOracleISAMFile(tOracleConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                    tCommBuffer& reply, u32 lockOwner);
    ~tOracleISAMFile() override;

    // The first (last) block of record numbers of the order, at most row count + 10, through a
    // row_number() window, then the record.
    bool GoTop() override;
    bool GoBottom() override;
    // Binds the fields that hold a value from the record buffer. Traced, or with the OCI 7
    // layer, the literal INSERT of the base file is written instead.
    bool Write(i32& nativeError) override;
    // Binds the changed fields; traced or with OCI 7 the base file's literal UPDATE.
    i16 Update(f64 recno) override;
    // " CHR(<code>)" joined by "||" to the literal around it.
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override;
    void AddRowLimit() override;  // in rownum mode: "SELECT * FROM ( <cursor> ) WHERE rownum < n"
    // The comment " /*+ FIRST_ROWS(n) INDEX_ASC(<table> <index>) */ " as the settings allow.
    void AddHint(bool withHint, bool forward) override;
    bool AddRecnoEquals(f64 recno) override;  // " = :1": the record number is bound
    void RecnoParamMarker() override;         // " = :1"
    // Bounds the key positions from first to the deepest at which another index of the table
    // departs from this one: chr(0)/chr(255) for character, date and logical fields, the
    // widest numbers for the others. Whether a WHERE is open.
    bool AddKeyBounds(i32 first, const tIndexDefinition* index, i32 conditions, bool upper,
                      bool whereOpen) override;
    void AddIndexSpace() override;
    // INSTR(left,right)>0, a function operand also required not to be null.
    bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) override;
    // SUBSTR(text,start,length); without a length the rest of the field text stands for.
    bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                    tFilterElement* length) override;
    bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                     tString& suffix) override;

    i32 GetHintMode() const { return hintMode; }
    bool UsesIndexHint() const { return indexHint; }

    GML_CLASS_ALLOCATOR(tOracleISAMFile, Mem_IsamFile)

private:
    // Whether the writes bind their values: not while traced, nor through the OCI 7 layer.
    bool BindsValues();
    // "SELECT R_E_C_N_O_ FROM ( select /*+ ... */ R_E_C_N_O_, row_number() over ( <order> ) rn
    // from <table> <conditions> ) where rn between 1 and n".
    void BuildBlockSelect(bool descending);
    void AddBind(u8 type, void* value, u16 length);
    // The field's value in the incoming record bound as the next parameter; numbers rounded to
    // their decimals in place first.
    void BindField(i16 fieldNo);
    void AppendMarker();  // ":<number of the last bind>"
    void BuildBoundInsert();
    i16 RewriteBound(f64 recno);

    // Constant after construction.
    tOracleConnection& oracle;
    i32 hintMode = kFirstRowsHint;
    bool indexHint = true;
    // The session's thread only: the parameters of the current write, and the record numbers
    // they point at.
    tAutoArray<tBindParam> binds;
    f64 boundRecno = 0.0;
    f64 boundZero = 0.0;
};
