// Chained hash table of plain values. Never owns what pointer values point to.
//
// Iteration order is part of the contract: buckets from the highest index down
// to 0, and within a bucket the most recently inserted entry first. Tables grow
// by the factor 1.75 (100, 175, 306, ...) once the count reaches capacity x 0.75.
// Not thread-safe: callers hold the provider's global lock.
#ifndef QUILLON_SUPPORT_ORLHASHTABLE_H
#define QUILLON_SUPPORT_ORLHASHTABLE_H

#include <cstdint>
#include <type_traits>
#include <vector>

template <typename K, typename V>
class OrlHashtable {
public:
    struct Entry {
        uint32_t hash;
        K key;
        V value;
        Entry* next;
    };

    OrlHashtable() : m_buckets(new Entry*[kInitialCapacity]()), m_capacity(kInitialCapacity) {
        m_threshold = static_cast<uint32_t>(m_capacity * m_loadFactor);
    }
    OrlHashtable(const OrlHashtable&) = delete;
    OrlHashtable& operator=(const OrlHashtable&) = delete;

    virtual uint32_t hashCode(const K& key) const {
        if constexpr (std::is_pointer<K>::value) {
            return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
        } else {
            return static_cast<uint32_t>(key);
        }
    }
    virtual bool equals(const K& a, const K& b) const { return a == b; }

    virtual ~OrlHashtable() {
        clearEntries();
        delete[] m_buckets;
    }

    // Found: sets value, and key to the stored key.
    virtual bool get(K& key, V& value) {
        Entry* e = find(key);
        if (!e) return false;
        key = e->key;
        value = e->value;
        return true;
    }

    // Inserts, or replaces the key and value of an equal key.
    virtual void put(const K& key, const V& value) {
        uint32_t hash = hashCode(key);
        for (;;) {
            uint32_t index = bucketOf(hash, m_capacity);
            for (Entry* e = m_buckets[index]; e; e = e->next) {
                if (e->hash == hash && equals(e->key, key)) {
                    e->key = key;
                    e->value = value;
                    return;
                }
            }
            if (m_count < m_threshold) {
                m_buckets[index] = new Entry{hash, key, value, m_buckets[index]};
                ++m_count;
                return;
            }
            rehash();
        }
    }

    virtual void removeAll() { clearEntries(); }

    virtual bool remove(const K& key) {
        uint32_t hash = hashCode(key);
        Entry** link = &m_buckets[bucketOf(hash, m_capacity)];
        for (Entry* e = *link; e; link = &e->next, e = e->next) {
            if (e->hash == hash && equals(e->key, key)) {
                *link = e->next;
                delete e;
                --m_count;
                return true;
            }
        }
        return false;
    }

    bool containsKey(const K& key) const { return find(key) != nullptr; }
    uint32_t size() const { return m_count; }
    uint32_t capacity() const { return m_capacity; }

    // Walk: e = getFirstEntry(); while (e) { e = getNextEntry(e, k, v); use k, v; }
    // The cursor lives in the table: one walk at a time, and no removal during it.
    Entry* getFirstEntry() {
        m_cursor = m_capacity - 1;
        while (m_cursor > 0 && !m_buckets[m_cursor]) --m_cursor;
        return m_buckets[m_cursor];
    }

    Entry* getNextEntry(Entry* entry, K& key, V& value) {
        if (!entry) {
            key = K();
            value = V();
            return nullptr;
        }
        key = entry->key;
        value = entry->value;
        if (entry->next) return entry->next;
        if (m_cursor == 0) return nullptr;
        --m_cursor;
        while (m_cursor > 0 && !m_buckets[m_cursor]) --m_cursor;
        return m_buckets[m_cursor];
    }

private:
    static constexpr uint32_t kInitialCapacity = 100;

    static uint32_t bucketOf(uint32_t hash, uint32_t capacity) {
        return (hash & 0x7FFFFFFFu) % capacity;
    }

    Entry* find(const K& key) const {
        uint32_t hash = hashCode(key);
        for (Entry* e = m_buckets[bucketOf(hash, m_capacity)]; e; e = e->next) {
            if (e->hash == hash && equals(e->key, key)) return e;
        }
        return nullptr;
    }

    // Re-inserts old entries walking buckets from the highest index down and
    // each chain head to tail, so chains come out reversed as specified.
    void rehash() {
        uint32_t newCapacity = static_cast<uint32_t>(m_capacity * (m_loadFactor + 1.0f));
        Entry** newBuckets = new Entry*[newCapacity]();
        for (uint32_t i = m_capacity; i-- > 0;) {
            Entry* e = m_buckets[i];
            while (e) {
                Entry* next = e->next;
                uint32_t index = bucketOf(e->hash, newCapacity);
                e->next = newBuckets[index];
                newBuckets[index] = e;
                e = next;
            }
        }
        delete[] m_buckets;
        m_buckets = newBuckets;
        m_capacity = newCapacity;
        m_threshold = static_cast<uint32_t>(m_capacity * m_loadFactor);
    }

    void clearEntries() {
        for (uint32_t i = 0; i < m_capacity; ++i) {
            Entry* e = m_buckets[i];
            while (e) {
                Entry* next = e->next;
                delete e;
                e = next;
            }
            m_buckets[i] = nullptr;
        }
        m_count = 0;
    }

    Entry** m_buckets;
    uint32_t m_capacity;
    uint32_t m_count = 0;
    uint32_t m_cursor = 0;
    uint32_t m_threshold = 0;
    float m_loadFactor = 0.75f;
};

#endif
