// The error texts users may see, read from documented_messages.txt, and a matcher for them.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace sphnet_testing {

class DocumentedMessages {
  public:
    explicit DocumentedMessages(const std::string& path) {
        std::ifstream in(path);
        if (!in)
            throw std::runtime_error("cannot read " + path);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] != '#')
                formats_.push_back(line);
        }
        if (formats_.empty())
            throw std::runtime_error("no messages in " + path);
    }

    bool contains(const std::string& text) const {
        for (const std::string& format : formats_) {
            if (matches(format, text))
                return true;
        }
        return false;
    }

    // A whole-text match; %d in the format stands for an optional minus and one or more digits.
    static bool matches(const std::string& format, const std::string& text) {
        std::size_t f = 0;
        std::size_t t = 0;
        while (f < format.size()) {
            if (format.compare(f, 2, "%d") == 0) {
                if (t < text.size() && text[t] == '-')
                    ++t;
                const std::size_t digitsStart = t;
                while (t < text.size() && text[t] >= '0' && text[t] <= '9')
                    ++t;
                if (t == digitsStart)
                    return false;
                f += 2;
                continue;
            }
            if (t >= text.size() || text[t] != format[f])
                return false;
            ++f;
            ++t;
        }
        return t == text.size();
    }

  private:
    std::vector<std::string> formats_;
};

}  // namespace sphnet_testing
