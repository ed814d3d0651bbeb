#include "migrator/AccountOutput.h"

#include "migrator/RunOutput.h"

namespace tarmig {

namespace {

// Backspace, space, backspace for each character: the terminal erases them.
std::string erasure(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "\b \b";
    return text;
}

}  // namespace

AccountOutput::AccountOutput(RunOutput& run, bool held)
    : run_(run), held_(held), errorLines_(held ? static_cast<std::streambuf*>(&heldLog_) : run.logBuffer()),
      log_(&errorLines_) {}

AccountOutput& AccountOutput::operator<<(const char* text) {
    console(text);
    log_ << text << std::flush;
    return *this;
}

AccountOutput& AccountOutput::operator<<(const std::string& text) { return *this << text.c_str(); }

AccountOutput& AccountOutput::operator<<(int value) { return *this << std::to_string(value); }

void AccountOutput::console(const std::string& text) {
    if (run_.quiet()) return;
    if (held_)
        heldConsole_ += text;
    else
        run_.console(text);
}

int AccountOutput::printProgress(int current, int total) { return replaceProgress(0, current, total); }

// One write per update: a console write per message costs more than the erase.
int AccountOutput::replaceProgress(int shown, int current, int total) {
    if (!run_.countersShown() || held_) return 0;
    std::string text = erasure(shown);
    const std::size_t erased = text.size();
    text += std::to_string(current);
    text += '/';
    text += std::to_string(total);
    run_.console(text);
    return static_cast<int>(text.size() - erased);
}

void AccountOutput::clearOutput(int count) {
    if (!run_.countersShown() || held_ || count <= 0) return;
    run_.console(erasure(count));
}

void AccountOutput::finish(const std::string& domain) {
    if (!held_) return;
    run_.writeAccount(domain, heldConsole_, heldLog_);
    heldConsole_.clear();
}

}  // namespace tarmig
