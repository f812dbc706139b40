// The platform's block store: a shared store of fixed-size memory blocks behind the sparse array
// and the bit store. Copies of those containers share one store; each holds one link to it, and
// the store is released with its last link.
//
// Link counts are atomic: MbAddLink and MbFree may be called on one store from several threads
// at once, as long as each caller holds the link it adds to or drops. The store's memory comes
// from the accounted allocation.
#pragma once

struct MEMBLOCKS;

// A new store of blocks of 2^blockShift bytes, holding one link. Throws std::bad_alloc when the
// heap is exhausted.
MEMBLOCKS* MbInit(unsigned blockShift);
// Adds a link to store (null is ignored).
void MbAddLink(MEMBLOCKS* store);
// Drops one link and sets store to null; the last link releases the store (null is ignored).
void MbFree(MEMBLOCKS*& store);
// The links a store holds now (0 for null). For tests and diagnostics.
unsigned MbLinks(MEMBLOCKS const* store);
