#include "flx/connector.h"

#include <gtest/gtest.h>

#include "core/session.h"
#include "records/database.h"
#include "tests/fake_host.h"

namespace {

// Fixed character columns, a tab being one character and the separators not looked at; the code
// decides the table and the pin type, or that there is no row. Every line is logged whatever its
// code; the counters pass 32767; a cancelled line is ignored.
TEST(Connector, CodeDecidesTableAndPinTypeAndEveryLineIsLogged) {
    const struct {
        QString line;
        QString row;  // table|name|type|conn|pin type, or empty: no row
    } cases[] = {
        {"I AES DB25  Input 1", "in|Input 1|AES|DB25|Normal"},
        {"L VID BNC   Loop In", "in|Loop In|VID|BNC|Loop"},
        {"O VID BNC-1 Program Out", "out|Program Out|VID|BNC-1|Normal"},
        {"O XLR XLR-3 ", "out||XLR|XLR-3|Normal"},
        {"I   A CONN1   Inner  Name  ", "in|Inner  Name|A|CONN1|Normal"},
        {"i AES DB25  lower case", ""},
        {"  AES DB25  blank code", ""},
        {"\tAES DB25  tab code", ""},
        {"X AES DB25  other", ""},
        {"", ""},
        {"I AB", "in||AB||Normal"},
        {"Ixabcxdefghxname", "in|name|abc|defgh|Normal"},
        {"I\tAES\tDB25\tName", "in|ame|AES|DB25\t|Normal"},
    };
    SessionState session;
    FakeHost host;
    db::Database unused{QString()};
    ImportContext ctx{session, host, unused};
    session.iInputs = session.iOutputs = 32767;
    session.bCancel = true;
    EXPECT_FALSE(AddConnector(ctx, flx::CutConnectorLine(u"I AES DB25  Cancelled")));
    session.bCancel = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const flx::ConnectorFields fields = flx::CutConnectorLine(c.line);
        const std::optional<db::ConnectorRow> row = ConnectorRowOf(fields);
        const QString table = row && row->table == db::ConnectorTable::kInputs ? "in" : "out";
        EXPECT_EQ(
            row ? QStringList({table, row->name, row->type, row->conn, row->pinType}).join('|')
                : QString(),
            c.row);
        EXPECT_EQ(AddConnector(ctx, fields), row.has_value());
    }
    EXPECT_EQ(session.iInputs, 32767 + 6);
    EXPECT_EQ(session.iOutputs, 32767 + 2);
    const QStringList log = host.ReportLines();
    ASSERT_EQ(log.size(), std::size(cases));
    EXPECT_EQ(log[4], "IOType = I\t Sig = A\t Conn = CONN1\t Name = \tInner  Name");
    EXPECT_EQ(log[9], "IOType = \t Sig = \t Conn = \t Name = \t");
}

}  // namespace
