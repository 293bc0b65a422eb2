#pragma once

#include <QString>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>

// Whether users may change settings, looked up in the user and group
// databases on threads of their own: those lookups may ask a directory
// server and wait on it, and the thread that accepts clients must not. An
// answer is kept and serves at once; after refreshMs the kept answer still
// serves while a fresh one is looked up. The first connection of a user
// waits up to waitMs for its answer; later ones do not wait for a lookup
// that is still out. A lookup that outlasts deadlineMs is given up (its
// thread ends when the database answers) and tried again after retryMs.
// Safe from any thread.
class MembershipCache
{
public:
    struct Membership
    {
        bool mayChange = false;
        QString description; // who the user is, and why not when it may not
    };
    using Lookup = std::function<Membership(uid_t uid)>;
    struct Options
    {
        int waitMs = 100;
        int deadlineMs = 2000;
        int retryMs = 60000;
        int refreshMs = 30000;
        int maxInFlight = 4; // lookups out at once; beyond, users are not decided
        int capacity = 1024; // users kept
    };

    explicit MembershipCache(const Lookup& lookup);
    MembershipCache(const Lookup& lookup, const Options& options);
    ~MembershipCache();
    MembershipCache(const MembershipCache&) = delete;
    MembershipCache& operator=(const MembershipCache&) = delete;

    // The user's membership, or nothing when it could not be looked up in time.
    std::optional<Membership> decide(uid_t uid);

private:
    struct State;
    std::shared_ptr<State> m_state;
};
