#pragma once

#include <string>

namespace forms {
// True for a web address: its scheme is http or https, in any case (as URL
// schemes are compared).
inline bool isWebAddress(const std::string& address) {
    auto schemeIs = [&address](const std::string& scheme) {
        if (address.size() <= scheme.size() || address[scheme.size()] != ':') return false;
        for (std::size_t i = 0; i < scheme.size(); ++i)
            if ((address[i] | 0x20) != scheme[i]) return false;
        return true;
    };
    return schemeIs("http") || schemeIs("https");
}

// The login is over when the page goes to a web address that contains the
// game address (exact, case-sensitive). Any other address (data:, file:,
// about:, javascript:, ...) is never handed over, whatever it contains: the
// engine's own rules apply to it. An empty game address is contained in
// every web address.
inline bool isHandOver(const std::string& address, const std::string& mainUrl) {
    return isWebAddress(address) && address.find(mainUrl) != std::string::npos;
}
} // namespace forms
