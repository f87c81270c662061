#include "core/error.h"

#include <gtest/gtest.h>

namespace {

// What a message box shows for a server's failure: one line per line of the server's own,
// without the driver's empty "()" and with the SQLSTATE after the words.
TEST(Error, ServerWordsShowOnOneLineWithoutEmptyParentheses) {
    const std::pair<QString, QString> cases[] = {
        {"The connection to the database 'db' was lost: server closed the connection "
         "unexpectedly\n\tThis probably means the server terminated abnormally\n\tbefore or "
         "while processing the request.\n() The rows added since the last commit were not "
         "stored.",
         "The connection to the database 'db' was lost: server closed the connection "
         "unexpectedly This probably means the server terminated abnormally before or while "
         "processing the request. The rows added since the last commit were not stored."},
        {"refused: ERROR:  value too long\r\n(22001)", "refused: ERROR:  value too long (22001)"},
        {"Key (id)=() already exists.\n", "Key (id)=() already exists."},
        {"first line\nsecond line", "first line\nsecond line"},
    };
    for (const auto& [description, shown] : cases) {
        const AppError error(ErrNo::kDbConnectionLost, description, "importflx");
        EXPECT_EQ(ErrorWithSource(error), "-2147023174 " + shown + " importflx");
    }
}

}  // namespace
