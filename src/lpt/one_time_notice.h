// A back-end that loses its port keeps being called for every bit of every byte; the operator
// should hear about the loss once, not 25 times a byte. One notice per thing that can fail.
#pragma once

#include <iostream>
#include <string_view>

namespace lpt {

class OneTimeNotice {
  public:
    // Prints `line` on stderr the first time only.
    void say(std::string_view line) {
        if (said_) {
            return;
        }
        said_ = true;
        std::cerr << line << '\n';
    }
    // A fresh start of port access may fail again and deserves a new line.
    void rearm() { said_ = false; }

  private:
    bool said_ = false;
};

}  // namespace lpt
