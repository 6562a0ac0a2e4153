#include "journal.h"

namespace kovra_sim {

void Journal::add(std::string entry) {
    thread_local uint64_t epoch = 0;
    thread_local uint32_t number = 0;
    std::lock_guard lock(mutex_);
    if (mode_.load(std::memory_order_relaxed) == 2) {
        if (epoch != epoch_) {
            epoch = epoch_;
            number = ++threads_;
        }
        entry.insert(0, "T" + std::to_string(number) + " ");
    }
    entries_.push_back(std::move(entry));
}

void Journal::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    ++epoch_;
    threads_ = 0;
}

size_t Journal::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::string Journal::entry(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < entries_.size() ? entries_[index] : std::string();
}

std::vector<std::string> Journal::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::string quote(char const* s) {
    if (!s) return "null";
    std::string out = "\"";
    for (; *s; ++s) {
        switch (*s) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += *s;
        }
    }
    return out + "\"";
}

Entry& Entry::next() {
    if (!first_) line_ += ", ";
    first_ = false;
    return *this;
}

Entry& Entry::raw(std::string const& s) {
    next().line_ += s;
    return *this;
}

Entry& Entry::text(char const* s) { return raw(quote(s)); }

Entry& Entry::handle(void const* p, uint32_t number) {
    return raw(!p ? "null" : number ? "#" + std::to_string(number) : "#?");
}

Entry& Entry::pointer(void const* p) { return raw(p ? "ptr" : "null"); }

std::string Entry::done(int32_t status) { return line_ + ") = " + std::to_string(status); }

}  // namespace kovra_sim
