// The exception of a broken contract (a call made in a state that forbids it, such as a DVD
// call before the plug-in loaded or a codec tag of the wrong length). One class for every
// library, so that a caller can catch it whichever library raised it.
#pragma once

#include <stdexcept>

class EAssertionFailed : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};
