#pragma once
// What a strict reader is given to judge a file by the size in its header.
#include <functional>

namespace tovimar {

// Called with the width and height a file's header gives, before any sample
// is read; throws (an Error naming the file) to refuse a file of a size the
// caller cannot use.
using HeaderSizeCheck = std::function<void(int width, int height)>;

}  // namespace tovimar
