// The chunk store as "orvanta-tool mirror" copies it: a build's chunk index, proved before any
// chunk it names is fetched, and each chunk proved against the index before it takes its place.
#pragma once

#include <atomic>
#include <set>
#include <string>

#include "launcher/integrity/chunk_index.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/fetcher.h"

namespace orv::mirror {

// The index staged at `staged`: against the checklist statement's chunks-sha256 and chunks-size
// when `statement` is given, then read strictly. Raises Error naming the index and the fault.
ChunkIndex LoadChunkIndex(const std::string& staged, const std::string& checklist, const Statement* statement);

// Whether the ".lzma" at `path` is the chunk: it unpacks to the chunk's size and SHA-256. Empty when
// it is (`crcText` then gets the CRC-32 of its content); else why not. Unpacking stops past the
// chunk's size, so a small hostile file cannot cost the time of an endless one.
std::string ProveChunk(const std::string& path, const IndexedChunk& chunk, std::string& crcText,
                       const std::atomic<bool>& stop);

// One chunk from `url` into `part`, no more than its indexed packed size read, then proved as
// ProveChunk does. Empty when it holds; else why not (nothing is then left at `part`).
std::string FetchChunk(Fetcher& fetcher, const std::string& url, const std::string& part, const IndexedChunk& chunk,
                       std::string& crcText, const std::atomic<bool>& stop);

// Adds the store paths of every chunk the index at `path` names; false when it cannot be read.
bool AddIndexedChunks(const std::string& path, std::set<std::string>& into);

}  // namespace orv::mirror
