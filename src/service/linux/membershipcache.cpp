#include "membershipcache.h"

#include <QHash>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

qint64 elapsedMs(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

} // namespace

struct MembershipCache::State
{
    struct Entry
    {
        std::optional<Membership> answer;
        Clock::time_point answeredAt;
        bool inFlight = false; // a lookup is out and still waited for
        Clock::time_point askedAt;
        Clock::time_point retryAt; // after a lookup that outlasted its deadline
        quint64 lookup = 0;        // the lookup whose answer counts
    };

    Lookup lookup;
    Options options;
    std::mutex mutex;
    std::condition_variable answered;
    QHash<uid_t, Entry> entries;
    int threads = 0; // lookups out, those given up on included
    quint64 lookups = 0;

    // Under the lock. False when too many lookups are out.
    bool start(const std::shared_ptr<State>& self, uid_t uid, Entry* entry)
    {
        if (threads >= options.maxInFlight)
            return false;
        ++threads;
        entry->inFlight = true;
        entry->askedAt = Clock::now();
        entry->lookup = ++lookups;
        const quint64 id = entry->lookup;
        std::thread([self, uid, id] {
            const Membership membership = self->lookup(uid);
            const std::lock_guard<std::mutex> lock(self->mutex);
            --self->threads;
            const auto it = self->entries.find(uid);
            if (it == self->entries.end() || it->lookup != id)
                return;
            // Late or not, it is the newest answer there is.
            it->answer = membership;
            it->answeredAt = Clock::now();
            it->inFlight = false;
            self->answered.notify_all();
        }).detach();
        return true;
    }

    // Under the lock: users whose lookups are not out leave when too many are kept.
    void trim()
    {
        if (entries.size() < options.capacity)
            return;
        for (auto it = entries.begin(); it != entries.end();)
            it = it->inFlight ? std::next(it) : entries.erase(it);
    }
};

MembershipCache::MembershipCache(const Lookup& lookup) : MembershipCache(lookup, Options()) {}

MembershipCache::MembershipCache(const Lookup& lookup, const Options& options)
    : m_state(std::make_shared<State>())
{
    m_state->lookup = lookup;
    m_state->options = options;
}

// Lookups still out keep the state alive and end on their own.
MembershipCache::~MembershipCache() = default;

std::optional<MembershipCache::Membership> MembershipCache::decide(uid_t uid)
{
    State& state = *m_state;
    const Options& options = state.options;
    std::unique_lock<std::mutex> lock(state.mutex);
    state.trim();
    State::Entry& entry = state.entries[uid];
    const Clock::time_point now = Clock::now();
    if (entry.inFlight && elapsedMs(entry.askedAt) >= options.deadlineMs) {
        // Stuck in the database: not waited for again, asked again later.
        entry.inFlight = false;
        entry.retryAt = now + std::chrono::milliseconds(options.retryMs);
    }
    if (entry.answer) {
        if (!entry.inFlight && now >= entry.retryAt &&
            elapsedMs(entry.answeredAt) >= options.refreshMs)
            state.start(m_state, uid, &entry);
        return entry.answer;
    }
    if (!entry.inFlight) {
        if (now < entry.retryAt || !state.start(m_state, uid, &entry))
            return std::nullopt;
    } else if (elapsedMs(entry.askedAt) >= options.waitMs) {
        return std::nullopt; // a connection has waited for it already
    }
    // Other callers may add users (and move entries) while this one waits.
    const auto answer = [&state, uid] {
        const auto it = state.entries.constFind(uid);
        return it == state.entries.constEnd() ? std::nullopt : it->answer;
    };
    state.answered.wait_until(lock, entry.askedAt + std::chrono::milliseconds(options.waitMs),
                              [&answer] { return answer().has_value(); });
    return answer();
}
