// The GDI+ imaging adapter (Win32Platform::imaging). The launcher itself
// never calls anything here; a test program does, to reach paths that a
// healthy system never takes.
#pragma once

#include <cstdint>

namespace fw::win32 {

// The GdiplusVersion that startup asks for (1 unless a test changes it).
// GDI+ refuses versions it does not know, which is how a test program makes
// the start fail for real.
void setGdiPlusVersionForTests(std::uint32_t version);

} // namespace fw::win32
