// Running a piece of work on a thread with a large stack.
//
// The grammars recurse once per level of nesting of the text, and the printers, the
// translation and the release of a tree recurse once per level of its depth. Both are
// bounded (kMaxNesting, kMaxTreeDepth); the bounds are chosen so that the deepest input
// they admit fits in this stack, in a sanitized build as well.
#pragma once
#include <cstddef>
#include <functional>

namespace vorlax::parsing {

inline constexpr std::size_t kLargeStackBytes = std::size_t(4) << 30;

// Runs work on a new thread whose stack holds kLargeStackBytes (its pages are touched
// only as deep as the work goes) and waits for it; an exception thrown by work is thrown
// again here. When no such thread can be made, work runs on the calling thread.
void runWithLargeStack(const std::function<void()>& work);

}  // namespace vorlax::parsing
