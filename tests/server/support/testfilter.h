// A filter operand for tests of the dialects' filter hooks: it stands in for a node of the
// filter translation's tree with the SQL, translation, kind and field that the test gives it.
#pragma once
#include <string>

#include "lib_base/stringz.h"
#include "server/filter/filterelement.h"

namespace gmtest {

class TestElement : public tFilterElement {
public:
    // sql: what EmitSQL appends; translated: what IsTranslated then answers.
    explicit TestElement(std::string sql, bool translated = true) : sql(std::move(sql)) {
        emitsTranslated = translated;
    }
    TestElement& AsFunction() {
        function = true;
        return *this;
    }
    TestElement& AsConstant() {
        constant = true;
        return *this;
    }
    TestElement& StandingFor(tField* f) {
        field = f;
        return *this;
    }

    void EmitSQL(tString& out) override {
        out += sql.c_str();
        SetTranslated(emitsTranslated);
        ++emitted;
    }
    bool IsFunction() const override { return function; }
    bool IsConstant() const override { return constant; }
    tField* FindField() const override { return field; }
    tString GetText() const override { return tString(sql.c_str()); }

    int emitted = 0;  // how often EmitSQL ran

private:
    std::string sql;
    bool emitsTranslated = true;
    bool function = false;
    bool constant = false;
    tField* field = nullptr;  // the table's
};

}  // namespace gmtest
