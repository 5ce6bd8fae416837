// A hash index of small integer ids whose keys live elsewhere: open addressing with linear
// probing over 4-byte slots, so that an index of a million entries costs a few megabytes. The
// caller supplies each key's hash and how to compare a stored id with the key sought, and on
// growth how to hash a stored id again.
#ifndef HARVO_SITE_ID_TABLE_H
#define HARVO_SITE_ID_TABLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

class KtWdlIdTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The first id stored under hash for which equal(id) holds, or kNone.
  template <class Equal>
  uint32_t Find(size_t hash, Equal equal) const {
    if (m_Slots.empty()) return kNone;
    const size_t mask = m_Slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      uint32_t id = m_Slots[i];
      if (id == kNone) return kNone;
      if (equal(id)) return id;
    }
  }

  // Stores id under hash; the caller stores no key twice (Find first). hashOf(id) gives the hash
  // of a stored id when the table grows.
  template <class HashOf>
  void Insert(uint32_t id, size_t hash, HashOf hashOf) {
    if ((m_Count + 1) * 2 > m_Slots.size()) Grow(hashOf);
    Place(id, hash);
    ++m_Count;
  }

  size_t Size() const { return m_Count; }
  void Clear() {
    m_Slots.clear();
    m_Slots.shrink_to_fit();
    m_Count = 0;
  }

 private:
  void Place(uint32_t id, size_t hash) {
    const size_t mask = m_Slots.size() - 1;
    size_t i = hash & mask;
    while (m_Slots[i] != kNone) i = (i + 1) & mask;
    m_Slots[i] = id;
  }

  // Doubles the slots (at most half of them are ever in use, so that probe runs stay short).
  template <class HashOf>
  void Grow(HashOf hashOf) {
    std::vector<uint32_t> old(m_Slots.empty() ? 16 : m_Slots.size() * 2, kNone);
    old.swap(m_Slots);
    for (uint32_t id : old) {
      if (id != kNone) Place(id, hashOf(id));
    }
  }

  std::vector<uint32_t> m_Slots;  // kNone marks an empty slot; the size is a power of two
  size_t m_Count = 0;
};

#endif  // HARVO_SITE_ID_TABLE_H
