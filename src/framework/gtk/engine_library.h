#pragma once

namespace fw::gtk {

// The browser engine's library is opened when the first browser is made,
// not when the program starts: loading it and the libraries it needs takes
// some 50 ms, which the background window no longer waits for. Throws
// std::runtime_error, saying why, when the library cannot be opened; every
// engine function the adapter calls goes through engine_library.cpp.
void openEngineLibrary();

} // namespace fw::gtk
