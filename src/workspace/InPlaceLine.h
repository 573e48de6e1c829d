#pragma once

#include <ostream>
#include <string_view>

namespace kestova {

// One line on standard error that is rewritten in place (a carriage return, the new text, spaces
// over what is left of the old), for progress that a person watches on a terminal; and the
// writing of whole lines to a stream around it, so that they never land in the middle of it: the
// line is taken down, the text written, the line put back.
// Contract: every function may be called from any thread; all of them, and every run log line,
// write under one lock, so their bytes never mix. Nothing here is written unless a line has been
// shown, so a program that never shows one writes its streams exactly as before.
void showInPlaceLine(std::string_view text);

// Takes the line down for good; the next text starts on a clean line.
void clearInPlaceLine();

// Writes the text to the stream, with the line taken down around it, and flushes it. A broken
// stream loses the text and nothing else.
void writeAroundInPlaceLine(std::ostream& stream, std::string_view text);

}  // namespace kestova
