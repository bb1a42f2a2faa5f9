// The executable's resources as the non-Windows builds carry them: compiled
// in from resources/ (see cmake/resources.cmake).
#pragma once

#include <cstddef>
#include <span>

namespace fw {

struct EmbeddedResource {
    int id;
    const char* type;
    const unsigned char* data;
    std::size_t size;
};

std::span<const EmbeddedResource> embeddedResources();

} // namespace fw
