#pragma once

// How a KorNum box presents itself to screen readers: an editable text whose value is also a
// number (the accessible value interface) and whose shown text is readable and walkable (the
// accessible text interface). Qt's own line-edit interface is private, so the box brings its own.

namespace KorNumIn {

/// Registers the interface with Qt's accessibility; safe to call any number of times.
void installKorNumAccessible();

} // namespace KorNumIn
