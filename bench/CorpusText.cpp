#include "CorpusText.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char*, 32> words = {
    "the",     "report",  "meeting", "budget",  "quarter", "schedule", "please", "review",
    "attached", "numbers", "team",    "project", "delivery", "customer", "invoice", "update",
    "morning", "thanks",  "regards", "office",  "contract", "draft",    "final",  "version",
    "server",  "migration", "tonight", "backup", "accounts", "folders",  "notes",  "agenda"};

constexpr std::array<const char*, 8> names = {"Ann Lee", "Bob Stone", "Carla Diaz", "Dan Wu",
                                              "Eve Moss", "Finn Roe", "Gail Park", "Hugo Lind"};

constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

CorpusText::CorpusText(std::uint64_t seed, bool crlf) : state_(seed), eol_(crlf ? "\r\n" : "\n") {
    // A pool of base64 text; attachments are windows into it, so a 1 GiB
    // message costs no more random numbers than a small one.
    base64Pool_.resize(1 << 20);
    for (char& c : base64Pool_) c = base64Alphabet[next() % 64];
}

std::uint64_t CorpusText::next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::int64_t CorpusText::between(std::int64_t low, std::int64_t high) {
    return low + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(high - low + 1));
}

std::string CorpusText::textLine() {
    std::string line;
    auto target = static_cast<std::size_t>(between(40, 76));
    while (line.size() < target) {
        if (!line.empty()) line += ' ';
        line += words[next() % words.size()];
    }
    if (!line.empty()) line[0] = static_cast<char>(line[0] - 'a' + 'A');
    return line;
}

std::string CorpusText::headers(std::int64_t index, bool attachment) {
    const char* from = names[next() % names.size()];
    char date[64];
    int day = static_cast<int>(between(1, 28));
    int hour = static_cast<int>(between(0, 23));
    int minute = static_cast<int>(between(0, 59));
    std::snprintf(date, sizeof date, "Fri, %02d Feb 2004 %02d:%02d:%02d +0000", day, hour, minute,
                  static_cast<int>(between(0, 59)));
    std::string id = std::to_string(index) + "." + std::to_string(next() % 1000000007);
    std::string subject = textLine().substr(0, 48);
    const std::string& e = eol_;
    std::string h;
    h += "Return-Path: <sender" + std::to_string(index % 97) + "@example.net>" + e;
    h += "Received: from mx" + std::to_string(index % 7) + ".example.net (mx.example.net [192.0.2." +
         std::to_string(index % 250 + 1) + "])" + e + "\tby mail.example.com with ESMTP id " + id + e + "\tfor <bench@example.com>; " + date + e;
    h += "Message-ID: <" + id + "@example.net>" + e;
    h += "Date: " + std::string(date) + e;
    h += "From: \"" + std::string(from) + "\" <sender" + std::to_string(index % 97) + "@example.net>" + e;
    h += "To: \"Bench User\" <bench@example.com>" + e;
    h += "Subject: " + subject + e;
    h += "MIME-Version: 1.0" + e;
    if (attachment) {
        h += "Content-Type: multipart/mixed; boundary=\"=_part_" + id + "\"" + e + e;
        h += "--=_part_" + id + e + "Content-Type: text/plain; charset=us-ascii" + e + e;
        for (int i = 0; i < 8; ++i) h += textLine() + e;
        h += e + "--=_part_" + id + e + "Content-Type: application/pdf; name=\"report.pdf\"" + e +
             "Content-Transfer-Encoding: base64" + e + "Content-Disposition: attachment; filename=\"report.pdf\"" + e + e;
    } else {
        h += "Content-Type: text/plain; charset=us-ascii" + e + "Content-Transfer-Encoding: 7bit" + e + e;
    }
    return h;
}

template <class MakeLine>
void CorpusText::writeLines(std::ostream& out, std::int64_t bytes, MakeLine line) {
    auto eolSize = static_cast<std::int64_t>(eol_.size());
    while (bytes > 0) {
        std::string text = line();
        auto room = bytes - eolSize;
        if (room < 0) {
            out.write("\r\n" + (eolSize - bytes), bytes);  // only the last bytes of a line end fit
            return;
        }
        if (static_cast<std::int64_t>(text.size()) > room) text.resize(static_cast<std::size_t>(room));
        out << text << eol_;
        bytes -= static_cast<std::int64_t>(text.size()) + eolSize;
    }
}

void CorpusText::writeMessage(std::ostream& out, std::int64_t index, std::int64_t size) {
    bool attachment = size > 256 * 1024;
    std::string head = headers(index, attachment);
    out << head;
    std::int64_t left = size - static_cast<std::int64_t>(head.size());
    if (!attachment) {
        writeLines(out, left, [this] { return textLine(); });
        return;
    }
    std::size_t pos = static_cast<std::size_t>(next() % (base64Pool_.size() - 76));
    writeLines(out, left, [this, &pos] {
        std::string line = base64Pool_.substr(pos, 76);
        pos = (pos + 76 * 13 + 1) % (base64Pool_.size() - 76);
        return line;
    });
}
