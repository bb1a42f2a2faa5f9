#include "framework/portable/property_bag.h"

#include <algorithm>

namespace fw {

namespace {
char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool sameFont(const Font& a, const Font& b) {
    return a.face == b.face && a.size == b.size && a.weight == b.weight && a.charset == b.charset &&
           a.italic == b.italic && a.underline == b.underline && a.strikethrough == b.strikethrough;
}
} // namespace

const char* PropertyBag::kindName(const Value& value) {
    static const char* const names[] = {"a boolean", "an integer", "a string", "a picture",
                                        "a font"};
    return names[value.index()];
}

const PropertyBag::Value* PropertyBag::find(std::string_view key) const {
    for (const auto& [k, v] : entries_)
        if (sameKey(k, key)) return &v;
    return nullptr;
}

const std::string* PropertyBag::storedKey(std::string_view key) const {
    for (const auto& e : entries_)
        if (sameKey(e.first, key)) return &e.first;
    return nullptr;
}

void PropertyBag::set(std::string_view key, Value value) {
    for (auto& [k, v] : entries_)
        if (sameKey(k, key)) {
            v = std::move(value);
            return;
        }
    entries_.emplace_back(std::string(key), std::move(value));
}

void PropertyBag::erase(std::string_view key) {
    std::erase_if(entries_, [&](const auto& e) { return sameKey(e.first, key); });
}

template <class T>
const T* PropertyBag::get(std::string_view key, const char* wanted) const {
    const Value* v = find(key);
    if (!v) return nullptr;
    if (const T* t = std::get_if<T>(v)) return t;
    throw PropertyKindError("property \"" + *storedKey(key) + "\" holds " + kindName(*v) +
                            ", not " + wanted);
}

bool PropertyBag::readBool(std::string_view key, bool defaultValue) const {
    const BagBool* b = get<BagBool>(key, "a boolean");
    return b ? b->bits != 0 : defaultValue;
}

std::int32_t PropertyBag::readInt(std::string_view key, std::int32_t defaultValue) const {
    const std::int32_t* i = get<std::int32_t>(key, "an integer");
    return i ? *i : defaultValue;
}

std::string PropertyBag::readString(std::string_view key, const std::string& defaultValue) const {
    const std::string* s = get<std::string>(key, "a string");
    return s ? *s : defaultValue;
}

PictureRef PropertyBag::readPicture(std::string_view key, const PictureRef& defaultValue) const {
    const PictureRef* p = get<PictureRef>(key, "a picture");
    return p ? *p : defaultValue;
}

FontRef PropertyBag::readFont(std::string_view key, const FontRef& defaultValue) const {
    const FontRef* f = get<FontRef>(key, "a font");
    return f ? *f : defaultValue;
}

void PropertyBag::writeBool(std::string_view key, bool value, bool defaultValue) {
    if (value == defaultValue) return erase(key);
    set(key, BagBool{static_cast<std::int16_t>(value ? -1 : 0)});
}

void PropertyBag::writeInt(std::string_view key, std::int32_t value, std::int32_t defaultValue) {
    if (value == defaultValue) return erase(key);
    set(key, value);
}

void PropertyBag::writeString(std::string_view key, const std::string& value,
                              const std::string& defaultValue) {
    if (value == defaultValue) return erase(key);
    set(key, value);
}

void PropertyBag::writePicture(std::string_view key, const PictureRef& value,
                               const PictureRef& defaultValue) {
    if (value == defaultValue) return erase(key);
    set(key, value);
}

void PropertyBag::writeFont(std::string_view key, const FontRef& value,
                            const FontRef& defaultValue) {
    const bool same =
        value == defaultValue || (value && defaultValue && sameFont(*value, *defaultValue));
    if (same) return erase(key);
    set(key, value);
}

} // namespace fw
