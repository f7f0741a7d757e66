// The errors users may see, identifier and text, read from documented_messages.txt, and a
// matcher for them.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sphnet_testing {

class DocumentedMessages {
  public:
    // Lines are "identifier text"; # starts a comment.
    explicit DocumentedMessages(const std::string& path) {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read " + path);
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            const std::size_t space = line.find(' ');
            if (space == std::string::npos)
                throw std::runtime_error("no identifier in " + path + ": " + line);
            entries_.push_back({line.substr(0, space), line.substr(space + 1)});
        }
        if (entries_.empty()) throw std::runtime_error("no messages in " + path);
    }

    // Whether some line holds exactly this identifier with a format that matches the text.
    bool contains(const std::string& identifier, const std::string& text) const {
        for (const Entry& entry : entries_) {
            if (entry.identifier == identifier && matches(entry.format, text)) return true;
        }
        return false;
    }

    // A whole-text match; %d in the format stands for an optional minus and one or more digits.
    static bool matches(const std::string& format, const std::string& text) {
        std::size_t f = 0;
        std::size_t t = 0;
        while (f < format.size()) {
            if (format.compare(f, 2, "%d") == 0) {
                if (t < text.size() && text[t] == '-') ++t;
                const std::size_t digitsStart = t;
                while (t < text.size() && text[t] >= '0' && text[t] <= '9') ++t;
                if (t == digitsStart) return false;
                f += 2;
                continue;
            }
            if (t >= text.size() || text[t] != format[f]) return false;
            ++f;
            ++t;
        }
        return t == text.size();
    }

  private:
    struct Entry {
        std::string identifier;
        std::string format;
    };
    std::vector<Entry> entries_;
};

}  // namespace sphnet_testing
