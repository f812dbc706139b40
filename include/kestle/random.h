// Pseudo-random generators: the interface Random::PRANG and the platform's generator
// Random::PFRandom.
#pragma once

#include <cstdint>

#include "kestle/export.h"
#include "kestle/mutexsimplex.h"
#include "kestle/semaphore.h"

namespace Random {

// A generator of 32-bit values: one fixed sequence per seed. No data; copying and assignment do
// nothing. Not deleted through this interface.
class KESTLE_API PRANG {
 public:
  PRANG() {}
  PRANG(PRANG const&) {}
  PRANG(PRANG&&) {}
  PRANG& operator=(PRANG const&) { return *this; }
  PRANG& operator=(PRANG&&) { return *this; }

  // Restarts the sequence from seed.
  virtual void seed(std::uint32_t seed) = 0;
  // The next value of the sequence.
  virtual std::uint32_t next() = 0;

 protected:
  ~PRANG() = default;
};

// The platform's generator: the C++ standard's std::mt19937 (32-bit Mersenne Twister), so that any
// program can reproduce its sequence. Seeded with 5489 (also its state at construction) the first
// value is 3499211612. seed and next lock the generator's own mutex, so one generator may be
// shared by several threads (each value goes to exactly one caller). Not copied.
class KESTLE_API PFRandom final : public PRANG {
 public:
  PFRandom();
  PFRandom(PFRandom const&) = delete;
  PFRandom& operator=(PFRandom const&) = delete;
  // Destroys the event, then the mutex.
  ~PFRandom();

  void seed(std::uint32_t seed) override;
  std::uint32_t next() override;

 private:
  // The std::mt19937 that holds the sequence, made in place by the constructor: kept as bytes so
  // that this header does without <random>.
  alignas(8) unsigned char state_[5000];
  MutexSimplex mutex_;
  EventSem event_;
};

}  // namespace Random
