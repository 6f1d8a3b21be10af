#pragma once

#include <QHash>
#include <QList>

#include <optional>

namespace velmora {

// A least-recently-used cache bounded by the total cost of what it holds. With the few dozen
// entries it keeps, a plain list is the cheapest record of recency.
template <typename Key, typename Value> class BoundedPageCache {
public:
    struct Entry {
        Value value;
        qint64 cost = 0;
    };

    explicit BoundedPageCache(qint64 costLimit)
        : m_costLimit(costLimit) {}

    qint64 costLimit() const { return m_costLimit; }
    qint64 totalCost() const { return m_totalCost; }
    // Least recently used first.
    const QList<Key> &recency() const { return m_recency; }

    // A hit makes the key the most recently used; a miss changes nothing.
    std::optional<Value> value(const Key &key) {
        const auto found = m_storage.constFind(key);
        if (found == m_storage.constEnd())
            return std::nullopt;
        markRecentlyUsed(key);
        return found->value;
    }

    // A cost outside 1...costLimit stores nothing, and still forgets what the key held.
    void insert(const Value &value, const Key &key, qint64 cost) {
        removeValue(key);
        if (cost < 1 || cost > m_costLimit)
            return;
        m_storage.insert(key, Entry{value, cost});
        m_recency.append(key);
        m_totalCost += cost;
        evictToCostLimit();
    }

    void removeValue(const Key &key) {
        const auto found = m_storage.constFind(key);
        if (found != m_storage.constEnd()) {
            m_totalCost -= found->cost;
            m_storage.erase(found);
        }
        m_recency.removeAll(key);
    }

private:
    void markRecentlyUsed(const Key &key) {
        m_recency.removeAll(key);
        m_recency.append(key);
    }

    void evictToCostLimit() {
        while (m_totalCost > m_costLimit && !m_recency.isEmpty()) {
            const Key oldest = m_recency.constFirst();
            removeValue(oldest);
        }
    }

    qint64 m_costLimit;
    QHash<Key, Entry> m_storage;
    QList<Key> m_recency;
    qint64 m_totalCost = 0;
};

} // namespace velmora
