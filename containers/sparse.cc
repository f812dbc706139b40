// Construction, copying, assignment and destruction of the two block-store containers.
#include "kestle/sparse.h"

#include "platform/blockstore.h"

namespace {
constexpr unsigned kBlockShift = 7;  // the stores of both classes use 128-byte blocks
constexpr std::uint32_t kGrain = 16;
}  // namespace

// ---- SparseArray<unsigned long long> -------------------------------------------------------

using Sparse = SparseArray<unsigned long long>;

Sparse::SparseArray() : used_(0), grain_(kGrain), store_(MbInit(kBlockShift)) {}

Sparse::SparseArray(SparseArray const& other)
    : used_(other.used_), grain_(other.grain_), store_(other.store_) {
  MbAddLink(store_);
}

Sparse& Sparse::operator=(SparseArray const& other) {
  // other's fields are taken before the own link is dropped: other may be this object, and
  // MbFree clears the pointer it is given.
  MEMBLOCKS* incoming = other.store_;
  std::uint32_t used = other.used_;
  std::uint32_t grain = other.grain_;
  MbAddLink(incoming);  // link the new store before the old one can go
  MbFree(store_);
  used_ = used;
  grain_ = grain;
  store_ = incoming;
  return *this;
}

Sparse::~SparseArray() {
  MbFree(store_);
}

MEMBLOCKS* Sparse::store() const {
  return store_;
}

// ---- BitStore ------------------------------------------------------------------------------

BitStore::BitStore() : used_(0), grain_(kGrain), store_(MbInit(kBlockShift)), number_(0) {}

BitStore::BitStore(BitStore const& other)
    : used_(other.used_), grain_(other.grain_), store_(other.store_), number_(0) {
  MbAddLink(store_);
  number_ = other.number_;
}

BitStore::BitStore(BitStore&& other) : BitStore(static_cast<BitStore const&>(other)) {}

BitStore& BitStore::operator=(BitStore const& other) {
  // As for SparseArray: take other's fields first, link, then drop the own link.
  MEMBLOCKS* incoming = other.store_;
  std::uint32_t used = other.used_;
  std::uint32_t grain = other.grain_;
  std::uint32_t number = other.number_;
  MbAddLink(incoming);  // link the new store before the old one can go
  MbFree(store_);
  used_ = used;
  grain_ = grain;
  store_ = incoming;
  number_ = number;
  return *this;
}

BitStore& BitStore::operator=(BitStore&& other) {
  return *this = static_cast<BitStore const&>(other);
}

BitStore::~BitStore() {
  MbFree(store_);
}

unsigned BitStore::number() const {
  return number_;
}
bool BitStore::filled() const {
  return number_ > 0;
}
MEMBLOCKS* BitStore::store() const {
  return store_;
}
