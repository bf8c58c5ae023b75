#pragma once
// Work split over the calling thread and one helper thread kept for the
// process, for the pure per-pixel and per-value work of frame generation (the
// results do not depend on the split). The work is cut into chunks that both
// threads claim one at a time, so the caller never waits for the helper to be
// scheduled: on a busy machine it simply does more chunks itself, and waits
// only for chunks the helper has already begun.
#include <functional>

namespace tovimar {

// work(chunk) for chunk 0 .. count-1, each exactly once, on this thread and
// the helper. An exception of any chunk is rethrown here once every claimed
// chunk has ended (later chunks may not run).
void ForEachChunk(int count, const std::function<void(int)>& work);

}  // namespace tovimar
