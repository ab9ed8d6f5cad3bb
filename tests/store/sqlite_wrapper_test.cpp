#include "store/sqlite_db.h"
#include "store/sqlite_exception.h"

#include "support/temp_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>

namespace {

TEST(SqliteExceptionTest, MessageNamesTheCode) {
    const struct {
        int code;
        const char* expected;
    } cases[] = {
        {1, "SQLITE_ERROR[1]: boom"},          {5, "SQLITE_BUSY[5]: boom"},
        {13, "SQLITE_FULL[13]: boom"},         {26, "SQLITE_NOTADB[26]: boom"},
        {1000, "CPPSQLITE_ERROR[1000]: boom"}, {4242, "UNKNOWN_ERROR[4242]: boom"},
    };
    for (const auto& c : cases) {
        const CppSQLite3Exception error(c.code, "boom");
        EXPECT_STREQ(error.ErrorMessage(), c.expected);
        EXPECT_EQ(error.ErrorCode(), c.code);
    }
}

// The errors the wrapper finds itself.
TEST(SqliteWrapperTest, MisuseRaisesTheWrappersOwnErrors) {
    testing_support::TempDir dir;
    CppSQLite3DB closed;
    CppSQLite3DB db;
    db.Open(dir.File("t.db"));
    db.ExecDml(SqlStatement("create table t(a text, b integer)"));
    CppSQLite3Query empty;

    const struct {
        const char* name;
        std::function<void()> call;
        const char* message;
    } cases[] = {
        {"closed", [&] { closed.ExecDml(SqlStatement("select 1")); }, "Database not open"},
        {"no statement", [&] { empty.Eof(); }, "Null Virtual Machine pointer"},
        {"field name", [&] { db.ExecQuery(SqlStatement("select a from t")).GetStringField("zz"); },
         "Invalid field name requested"},
        {"field index", [&] { db.ExecQuery(SqlStatement("select a from t")).GetInt64Field(3); },
         "Invalid field index requested"},
        {"scalar", [&] { db.ExecScalar(SqlStatement("select a from t")); }, "Invalid scalar query"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.call();
            ADD_FAILURE() << "no error raised";
        } catch (const CppSQLite3Exception& error) {
            EXPECT_EQ(error.ErrorCode(), kCppSqliteError);
            EXPECT_EQ(std::string(error.ErrorMessage()),
                      std::string("CPPSQLITE_ERROR[1000]: ") + c.message);
        }
    }
    try {
        db.ExecDml(SqlStatement("insert into nowhere values(1)"));
        ADD_FAILURE() << "no error raised";
    } catch (const CppSQLite3Exception& error) {
        EXPECT_STREQ(error.ErrorMessage(), "SQLITE_ERROR[1]: no such table: nowhere");
    }
}

TEST(SqliteWrapperTest, ValuesAreBoundAndLoggedInPlace) {
    testing_support::TempDir dir;
    CppSQLite3DB db;
    db.Open(dir.File("t.db"));
    db.ExecDml(SqlStatement("create table t(id text, big bigint, n integer, json text)"));
    EXPECT_FALSE(db.TableExists("x' or '1'='1"));
    EXPECT_TRUE(db.TableExists("t"));

    const std::uint64_t big = std::numeric_limits<std::uint64_t>::max();
    SqlStatement insert("insert into t values( ");
    insert.Text("  '%s'", "it's ?")
        .Uint64(", %llu", big)
        .Int(", %d", -5)
        .Text(", '%s'", "{\"a\":\"o'b\"}", true)
        .Raw(" );");
    EXPECT_EQ(insert.Sql(), "insert into t values(   ?, ?, ?, ? );");
    EXPECT_EQ(insert.LogText(),
              "insert into t values(   'it's ?', 18446744073709551615, -5, '{\"a\":\"o''b\"}' );");
    EXPECT_EQ(db.ExecDml(insert), 1);
    db.ExecDml(SqlStatement("insert into t values(NULL, NULL, NULL, NULL)"));

    CppSQLite3Query query = db.ExecQuery(SqlStatement("select * from t order by id desc"));
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.GetStringField("id"), "it's ?");
    EXPECT_EQ(static_cast<std::uint64_t>(query.GetInt64Field("big")), big);
    EXPECT_EQ(query.GetIntField("n"), -5);
    EXPECT_EQ(query.GetStringField("json"), "{\"a\":\"o'b\"}");
    query.NextRow();
    ASSERT_FALSE(query.Eof());
    EXPECT_EQ(query.GetStringField("id"), "");
    EXPECT_EQ(query.GetInt64Field("big"), 0);
    query.NextRow();
    EXPECT_TRUE(query.Eof());
}

} // namespace
