#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// Deterministic, realistic message text for the benchmark corpora: RFC 5322
// headers, a plain-text body and, for large messages, a base64 attachment.
class CorpusText {
public:
    CorpusText(std::uint64_t seed, bool crlf);

    // The next pseudo-random number (splitmix64, the same on every platform).
    std::uint64_t next();
    // A number in [low, high].
    std::int64_t between(std::int64_t low, std::int64_t high);

    // Writes message `index` of exactly `size` bytes (at least headers' worth).
    void writeMessage(std::ostream& out, std::int64_t index, std::int64_t size);

private:
    std::string headers(std::int64_t index, bool attachment);
    std::string textLine();
    // Writes `bytes` bytes of lines made by `line`, the last one cut to fit.
    template <class MakeLine>
    void writeLines(std::ostream& out, std::int64_t bytes, MakeLine line);

    std::uint64_t state_;
    std::string eol_;
    std::string base64Pool_;
};
