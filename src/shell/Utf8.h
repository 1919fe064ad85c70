#pragma once
// UTF-8 text, as the window's text boxes and file names hold it, taken by whole characters.

namespace ostrelo {

// A byte that continues a character (10xxxxxx) rather than starting one.
inline bool IsContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace ostrelo
