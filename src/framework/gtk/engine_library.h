#pragma once

namespace fw::gtk {

// The browser engine's library is opened when the first browser is made,
// not when the program starts, so the background window does not wait for
// it and the libraries it needs to load. Throws
// std::runtime_error, saying why, when the library cannot be opened; every
// engine function the adapter calls goes through engine_library.cpp.
void openEngineLibrary();

// Whether the machine has a GPU the engine could draw with: a DRM render node
// (/dev/dri/renderD*). Without one every GL here is Mesa's software
// rasteriser, and the engine's composited drawing only costs time and memory.
bool hasRenderNode();

} // namespace fw::gtk
