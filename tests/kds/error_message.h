// What the components say when a piece of test code fails: the text of the exception it raises.
#pragma once

#include <exception>
#include <string>

namespace kdstest {

// The message of the exception `body` throws, as text (no exception is kept alive, so the next
// one's message is whole); "(no error)" when it throws none.
template <typename Body>
std::string Message(Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace kdstest
