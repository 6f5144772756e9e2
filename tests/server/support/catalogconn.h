// A test connection whose catalogue answers come from the test: which tables and indexes exist,
// the columns and indexes a table describes to, and the CREATE TABLE and ALTER TABLE requests it
// is given, written into its execution log.
#pragma once
#include <set>
#include <string>
#include <vector>

#include "server/tables/dbtable.h"
#include "tests/server/support/testconn.h"

namespace gmtest {

class CatalogConnection : public TestConnection {
public:
    struct Column {
        std::string name;
        u8 type;
        i16 length;
        u16 decimals;
        bool data;
    };
    struct Index {
        std::string name;
        std::vector<std::string> fields;
    };

    explicit CatalogConnection(const char* dbType = "MSSQL", const char* alias = "PRODUCAO")
        : TestConnection(nullptr, "conn", dbType, alias) {}

    // "TABLE" or "TABLE.INDEX".
    bool CanOpen(const char* table, const char* index) override {
        std::string key = table;
        if (index && *index) key += std::string(".") + index;
        return existing.count(key) != 0;
    }
    // "CREATE TABLE NAME(FIELD TYPE LENGTH DECIMALS DATA,...)".
    void CreateTable(const tTableDefinition& def, tString& sql) override {
        std::string text = std::string("CREATE TABLE ") + def.GetName() + "(";
        for (i32 i = 0; i < def.GetFieldCount(); ++i) {
            const tField& f = *def.GetField(i);
            if (i > 0) text += ",";
            text += std::string(f.GetName()) + " " + static_cast<char>(f.GetType()) + " " +
                    std::to_string(f.GetLen()) + " " + std::to_string(f.GetDecimals()) + " " +
                    (f.IsData() ? "1" : "0");
        }
        sql = (text + ")").c_str();
    }
    bool CreateGMLParam() override {
        executed.push_back("CreateGMLParam");
        if (createParamOk) existing.insert("GML_PARAM");
        return createParamOk;
    }
    bool DescribeTable(tTableDefinition& def) override {
        described.push_back(def.GetName());
        if (!describeOk) return false;
        for (const Column& c : columns) {
            def.AddField(c.name.c_str(), c.type, c.length, c.decimals, c.data, true);
        }
        return true;
    }
    bool DescribeIndexes(tTableDefinition& def) override {
        if (!indexesOk) return false;
        for (const Index& ix : indexes) {
            std::unique_ptr<tIndexDefinition> index(new tIndexDefinition(ix.name.c_str(), false));
            for (const std::string& f : ix.fields) index->AddField(def.GetFieldNo(f.c_str()));
            def.AddIndex(std::move(index));
        }
        return true;
    }
    // "AlterTable TABLE hasRecDel NAME:TYPE:LENGTH:DECIMALS:FLAGS,...".
    bool AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) override {
        std::string text = std::string("AlterTable ") + table + " " + std::to_string(hasRecDel);
        for (i32 i = 0; i < actions.Count(); ++i) {
            const tActionField& a = *actions.Get(i);
            text += std::string(i ? "," : " ") + a.name.GetText() + ":" +
                    static_cast<char>(a.newType) + ":" + std::to_string(a.newLength) + ":" +
                    std::to_string(a.newDecimals) + ":" + std::to_string(a.actions);
        }
        executed.push_back(text);
        return alterOk;
    }

    // What it answers.
    std::set<std::string> existing;
    std::vector<Column> columns;
    std::vector<Index> indexes;
    bool createParamOk = true;
    bool describeOk = true;
    bool indexesOk = true;
    bool alterOk = true;
    // The tables it described.
    std::vector<std::string> described;
};

}  // namespace gmtest
