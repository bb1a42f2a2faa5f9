// The property bag in which a container stores a child control's properties:
// keys matched without regard to (ASCII) case, kept in the order written; a
// read of an absent key yields its default, and a write of a value equal to
// its default leaves the key out. A value of another kind than the read asks
// for is an error (PropertyKindError), never a silent conversion.
#pragma once

#include "framework/ports/control.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace fw {

// Booleans are stored as 16-bit values: -1 true, 0 false.
struct BagBool {
    std::int16_t bits = 0;
    bool operator==(const BagBool&) const = default;
};

struct PropertyKindError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PropertyBag {
public:
    using Value = std::variant<BagBool, std::int32_t, std::string, PictureRef, FontRef>;

    bool readBool(std::string_view key, bool defaultValue) const;
    std::int32_t readInt(std::string_view key, std::int32_t defaultValue) const;
    std::string readString(std::string_view key, const std::string& defaultValue) const;
    PictureRef readPicture(std::string_view key, const PictureRef& defaultValue) const;
    FontRef readFont(std::string_view key, const FontRef& defaultValue) const;

    void writeBool(std::string_view key, bool value, bool defaultValue);
    void writeInt(std::string_view key, std::int32_t value, std::int32_t defaultValue);
    void writeString(std::string_view key, const std::string& value,
                     const std::string& defaultValue);
    // Pictures equal their default when they are the same object (or both
    // none); fonts when their attributes are equal.
    void writePicture(std::string_view key, const PictureRef& value,
                      const PictureRef& defaultValue);
    void writeFont(std::string_view key, const FontRef& value, const FontRef& defaultValue);

    // Raw access for the stored layout and for tests.
    const Value* find(std::string_view key) const;
    // The key as it is stored, or nothing.
    const std::string* storedKey(std::string_view key) const;
    void set(std::string_view key, Value value);
    void erase(std::string_view key);
    const std::vector<std::pair<std::string, Value>>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

    // "a boolean", "an integer", "a string", "a picture" or "a font".
    static const char* kindName(const Value& value);

private:
    template <class T>
    const T* get(std::string_view key, const char* wanted) const;

    std::vector<std::pair<std::string, Value>> entries_;
};

} // namespace fw
