#pragma once

#include <cstddef>

namespace zenqa::utils {

// A byte source read one byte at a time, with up to two bytes of push-back.
// Subclasses hand out their data in blocks; reading a byte is inline and
// touches the subclass only when a block is used up.
class KStream {
public:
    static constexpr int EndOfInput = -1;

    KStream() = default;
    virtual ~KStream() = default;
    KStream(const KStream&) = delete;
    KStream& operator=(const KStream&) = delete;

    // The next byte (0-255), or EndOfInput again on every read at the end.
    int get() {
        if (pushedCount_ > 0) return pushed_[--pushedCount_];
        if (next_ == end_ && !refill()) return EndOfInput;
        return static_cast<unsigned char>(*next_++);
    }

    // Makes byte the next one read. Pushing back EndOfInput is a no-op: the
    // source is already at its end, so the next read yields the end again.
    void unget(int byte) {
        if (byte == EndOfInput) return;
        if (pushedCount_ == 2) tooManyPushedBack();
        pushed_[pushedCount_++] = byte;
    }

protected:
    // Points begin/end at the next block of bytes; false at the end of the
    // data. The block must stay valid until the next call.
    virtual bool nextBlock(const char*& begin, const char*& end) = 0;

private:
    bool refill();
    [[noreturn]] static void tooManyPushedBack();

    const char* next_ = nullptr;
    const char* end_ = nullptr;
    bool atEnd_ = false;
    int pushed_[2] = {0, 0};
    int pushedCount_ = 0;
};

}  // namespace zenqa::utils
