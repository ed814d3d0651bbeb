#include "migrator/RunOutput.h"

#include <iostream>

#include "migrator/HeldLog.h"
#include "migrator/StatusLine.h"
#include "utils/ShownText.h"

namespace tarmig {

void RunOutput::write(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (!quiet_) toConsole(text);
    log_ << text << std::flush;
}

void RunOutput::setStatusLine(StatusLine* line) {
    std::lock_guard lock(mutex_);
    statusLine_ = line;
}

void RunOutput::toConsole(std::string_view text) {
    if (statusLine_ != nullptr)
        statusLine_->write(text);
    else
        std::cout << text << std::flush;
}

void RunOutput::log(std::string_view text) {
    std::lock_guard lock(mutex_);
    log_ << text << std::flush;
}

void RunOutput::console(std::string_view text) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    toConsole(text);
}

void RunOutput::writeDomainLine(const std::string& name) {
    std::lock_guard lock(mutex_);
    writeDomainLineLocked(name);
}

void RunOutput::writeDomainLineLocked(const std::string& name) {
    shownDomain_ = name;
    const std::string line = "\ndomain (" + zenqa::utils::shownText(name) + ")\n";
    if (!quiet_) toConsole(line);
    log_ << line << std::flush;
}

void RunOutput::writeAccount(const std::string& domain, const std::string& console, HeldLog& log) {
    std::lock_guard lock(mutex_);
    if (domain != shownDomain_) writeDomainLineLocked(domain);
    if (!quiet_) toConsole(console);
    log.moveTo(*log_.rdbuf());
    log_.flush();
}

RunOutput::LockedLog::int_type RunOutput::LockedLog::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    std::lock_guard lock(run_.mutex_);
    return run_.log_.rdbuf()->sputc(traits_type::to_char_type(c));
}

std::streamsize RunOutput::LockedLog::xsputn(const char* text, std::streamsize count) {
    std::lock_guard lock(run_.mutex_);
    return run_.log_.rdbuf()->sputn(text, count);
}

int RunOutput::LockedLog::sync() {
    std::lock_guard lock(run_.mutex_);
    return run_.log_.rdbuf()->pubsync();
}

}  // namespace tarmig
