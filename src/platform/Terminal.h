#pragma once

namespace kestova::platform {

// Whether standard error is a terminal, that is a person watching it rather than a file or a
// pipe; only then may a line there be rewritten in place.
bool standardErrorIsTerminal();

}  // namespace kestova::platform
