#pragma once

#include <string>

// The message of the E that body raises, or "" when it raises none.
template <class E, class Body>
std::string errorText(Body&& body) {
    try {
        body();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}
