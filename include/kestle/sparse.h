// SparseArray<unsigned long long> and BitStore: value classes whose storage is a shared block
// store of the platform. This library holds their construction, copying, assignment and
// destruction (and BitStore's two accessors); the element operations live elsewhere in the
// product.
//
// Copies share one block store: copying adds a link to it, destroying drops one, and the store
// is released with its last link. Assignment links the new store before it drops the old one, so
// assigning an object to itself changes nothing. One object is used by one thread at a time;
// copies that share a store may live on different threads.
#pragma once

#include <cstdint>

#include "kestle/export.h"

struct MEMBLOCKS;

template <class T>
class SparseArray;

template <>
class KESTLE_API SparseArray<unsigned long long> {
 public:
  SparseArray();  // an empty array with a new store
  SparseArray(SparseArray const& other);
  SparseArray& operator=(SparseArray const& other);
  ~SparseArray();

  MEMBLOCKS* store() const;  // the shared store

 private:
  std::uint32_t used_;   // 0 when new; kept for the element operations
  std::uint32_t grain_;  // 16 when new; kept for the element operations
  MEMBLOCKS* store_;
};

class KESTLE_API BitStore {
 public:
  BitStore();  // an empty store: number() 0, a new block store
  BitStore(BitStore const& other);
  BitStore(BitStore&& other);  // the same as copying: other keeps its link
  BitStore& operator=(BitStore const& other);
  BitStore& operator=(BitStore&& other);  // the same as copy assignment
  ~BitStore();

  unsigned number() const;
  bool filled() const;       // number() > 0
  MEMBLOCKS* store() const;  // the shared block store

 private:
  std::uint32_t used_;   // 0 when new; kept for the element operations
  std::uint32_t grain_;  // 16 when new; kept for the element operations
  MEMBLOCKS* store_;
  std::uint32_t number_;
};
