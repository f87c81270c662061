#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// State of the database layer shared by connection.cpp and transaction.cpp; not for other code.
namespace db {

class Connection;
class Waiter;

namespace detail {

inline const QString kSource = QStringLiteral("importflx database");

inline int deferredScopes = 0;  // live DeferredCommits scopes
inline int pausedScopes = 0;    // live DeferredCommits::Paused scopes
inline int dryRuns = 0;         // live DryRun scopes
inline Waiter* waiter = nullptr;
inline int waitLimitForTesting = 0;
inline std::uint64_t commits = 0;          // successful commits of a unit's transaction
inline std::vector<std::uint64_t> losses;  // `commits` at each transaction the store gave up

// Every shared connection, in a stable order, for the scopes that act on all of them.
std::vector<Connection*> LiveConnections();

}  // namespace detail
}  // namespace db
